#pragma once
// The helper's end after a crash. An unhandled structured exception on any thread (a plug-in's access
// violation, say) ends the process as every fatal error does: one line "corvane-media-helper: " naming
// the exception code and address and the dump's path (or why there is none), and exit code 1. The dump
// goes to %LOCALAPPDATA%\Corvane\crashes\corvane_media_helper-<UTC time>-<pid>.dmp; the folder keeps
// the newest `kKeptCrashDumps` of them. Nothing is written while nothing crashes.
//
// The handler prepares everything at installation: the folder's path, dbghelp.dll from the system
// folder, and a thread that waits to write the dump. The crashing thread only hands its exception to
// that thread and waits; neither allocates (the heap may be what broke), although the system's own
// dump writer does.

namespace corvane::helper {

// How many dumps the crash folder keeps.
inline constexpr int kKeptCrashDumps = 10;

// Installs the process-wide handler; call once, first thing in the entry. Whatever fails here (no
// LOCALAPPDATA, no dbghelp.dll, no writer thread) is told in the line of a later crash.
void install_crash_handler() noexcept;

}  // namespace corvane::helper
