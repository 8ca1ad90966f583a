#pragma once
// Operating-system errors as the helper reports them: the system's message, " (os error N)".

#include <windows.h>

#include <string>

namespace corvane::helper {

// "<system message> (os error <code>)" for a Win32 error code.
std::string system_error_text(DWORD code);

// The same for the calling thread's last error.
std::string last_error_text();

}  // namespace corvane::helper
