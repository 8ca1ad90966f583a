#pragma once
// Shared by the three stand-in libraries: the record file, and memory that one library allocates and
// another frees (g_malloc-style memory lives on the process heap, as g_free expects).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::fake_gst {

// Appends one line to the file that CORVANE_STANDIN_GST_RECORD names (nothing when it is unset).
void record(std::string_view line);

// An environment variable of this process as UTF-8, or nothing when it is unset.
std::optional<std::string> environment(const wchar_t* name);

// UTF-16 to UTF-8.
std::string utf8(std::wstring_view text);

// g_malloc-style memory (the process heap), released by the stand-in g_free and g_error_free.
void* heap_allocate(std::size_t size);
char* heap_string(std::string_view text);
void heap_free(void* memory);

}  // namespace corvane::fake_gst
