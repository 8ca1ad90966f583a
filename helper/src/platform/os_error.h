#pragma once
// Operating-system errors as the helper reports them: the system's message, " (os error N)".

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace corvane::helper {

// The system's message for a Win32 error code, written into `buffer` without its trailing line break
// or space; empty when the system has none. Allocates nothing (the crash handler uses it).
std::wstring_view system_message(DWORD code, std::span<wchar_t> buffer) noexcept;

// "<system message> (os error <code>)" for a Win32 error code.
std::string system_error_text(DWORD code);

// The same for the calling thread's last error.
std::string last_error_text();

}  // namespace corvane::helper
