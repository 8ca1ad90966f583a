#pragma once
// Test helper: what a running process holds, as far as Wine lets another process see it.

#include <windows.h>

namespace corvane::testing {

// Handles and memory of one process at one moment.
struct ProcessFigures {
  unsigned long handles = 0;
  SIZE_T private_bytes = 0;  // 0 under Wine
  SIZE_T working_set = 0;
};

// Handles the process `pid` holds, counted from the system handle table (Wine answers
// GetProcessHandleCount with 0 for every process but lists the table).
unsigned long handle_count(DWORD pid);

// Handles and memory of `process`, whose ID is `pid`.
ProcessFigures figures_of(HANDLE process, DWORD pid);

}  // namespace corvane::testing
