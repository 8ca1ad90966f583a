#include "windows/media/runtime_symbols.h"

#include <cstddef>
#include <cstring>

namespace corvane::helper {

const RuntimeSymbolEntry (&runtime_symbol_entries())[kRuntimeSymbolCount] {
  using L = RuntimeLibrary;
  static const RuntimeSymbolEntry entries[kRuntimeSymbolCount] = {
      {"gst_version_string", L::core, offsetof(RuntimeSymbols, gst_version_string)},
      {"gst_element_factory_find", L::core, offsetof(RuntimeSymbols, gst_element_factory_find)},
      {"gst_parse_launch", L::core, offsetof(RuntimeSymbols, gst_parse_launch)},
      {"gst_element_set_state", L::core, offsetof(RuntimeSymbols, gst_element_set_state)},
      {"gst_element_get_state", L::core, offsetof(RuntimeSymbols, gst_element_get_state)},
      {"gst_element_get_bus", L::core, offsetof(RuntimeSymbols, gst_element_get_bus)},
      {"gst_bin_get_by_name", L::core, offsetof(RuntimeSymbols, gst_bin_get_by_name)},
      {"gst_bus_timed_pop_filtered", L::core, offsetof(RuntimeSymbols, gst_bus_timed_pop_filtered)},
      {"gst_message_parse_error", L::core, offsetof(RuntimeSymbols, gst_message_parse_error)},
      {"gst_object_unref", L::core, offsetof(RuntimeSymbols, gst_object_unref)},
      {"gst_mini_object_unref", L::core, offsetof(RuntimeSymbols, gst_mini_object_unref)},
      {"gst_buffer_get_size", L::core, offsetof(RuntimeSymbols, gst_buffer_get_size)},
      {"gst_util_set_object_arg", L::core, offsetof(RuntimeSymbols, gst_util_set_object_arg)},
      {"g_error_free", L::glib, offsetof(RuntimeSymbols, g_error_free)},
      {"g_free", L::glib, offsetof(RuntimeSymbols, g_free)},
      {"g_signal_connect_data", L::gobject, offsetof(RuntimeSymbols, g_signal_connect_data)},
  };
  return entries;
}

void store_runtime_symbol(RuntimeSymbols& symbols, const RuntimeSymbolEntry& entry, void* address) {
  static_assert(sizeof(void*) == sizeof(&RuntimeSymbols::gst_version_string), "function and data pointers match");
  std::memcpy(reinterpret_cast<unsigned char*>(&symbols) + entry.offset, &address, sizeof address);
}

}  // namespace corvane::helper
