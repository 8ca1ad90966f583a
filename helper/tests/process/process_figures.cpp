#include "process_figures.h"

#include <psapi.h>

#include <cstring>
#include <vector>

namespace corvane::testing {

namespace {

// One entry of the system handle table (SystemHandleInformation, class 16).
struct HandleEntry {
  USHORT process_id;
  USHORT creator_back_trace_index;
  UCHAR object_type;
  UCHAR flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK granted_access;
};

}  // namespace

unsigned long handle_count(DWORD pid) {
  using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<unsigned char> buffer(1 << 20);
  ULONG length = 0;
  while (query != nullptr) {
    const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length);
    if (status == 0) {
      ULONG count = 0;
      std::memcpy(&count, buffer.data(), sizeof count);
      unsigned long owned = 0;
      for (ULONG i = 0; i < count; ++i) {
        HandleEntry entry{};
        std::memcpy(&entry, buffer.data() + sizeof(ULONG_PTR) + i * sizeof(HandleEntry), sizeof entry);
        // The table's process IDs are 16 bits wide.
        owned += entry.process_id == static_cast<USHORT>(pid) ? 1 : 0;
      }
      return owned;
    }
    if (buffer.size() >= (1u << 28)) {
      break;
    }
    buffer.resize(buffer.size() * 4);
  }
  DWORD fallback = 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  const bool counted = process != nullptr && GetProcessHandleCount(process, &fallback);
  if (process != nullptr) {
    CloseHandle(process);
  }
  return counted ? fallback : 0;
}

ProcessFigures figures_of(HANDLE process, DWORD pid) {
  ProcessFigures figures;
  figures.handles = handle_count(pid);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
    figures.private_bytes = counters.PrivateUsage;
    figures.working_set = counters.WorkingSetSize;
  }
  return figures;
}

}  // namespace corvane::testing
