#pragma once
// The GStreamer, GLib and GObject entry points the helper uses, resolved at run time from the runtime
// beside the executable (or, in tests, from another copy of GStreamer). Nothing links against
// GStreamer: every call goes through this table.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace corvane::helper {

// Opaque GStreamer and GLib objects; only pointers to them cross the table.
struct GstElement;
struct GstElementFactory;
struct GstBus;
struct GstMessage;
struct GstBuffer;

// GLib's error record (public layout): domain, code, message text (UTF-8, may be null).
struct GError {
  std::uint32_t domain;
  int code;
  char* message;
};

// GStreamer constants the helper uses.
inline constexpr int kGstStateNull = 1;
inline constexpr int kGstStatePlaying = 4;
inline constexpr int kGstStateChangeFailure = 0;
inline constexpr unsigned kGstMessageEos = 1;
inline constexpr unsigned kGstMessageError = 2;
inline constexpr std::uint64_t kGstSecond = 1000000000ULL;  // GstClockTime is in nanoseconds
// Offset of the message type in a GstMessage: after the 64-byte mini-object header (64-bit builds).
inline constexpr std::size_t kGstMessageTypeOffset = 64;

// Signature of the "handoff" signal of the identity element.
using HandoffCallback = void (*)(GstElement* identity, GstBuffer* buffer, void* user_data);

// The resolved entry points, in their storage order. `gst_init_check` is resolved first by the
// loader but used only once, so it is not kept here.
struct RuntimeSymbols {
  char* (*gst_version_string)();
  GstElementFactory* (*gst_element_factory_find)(const char* name);
  GstElement* (*gst_parse_launch)(const char* description, GError** error);
  int (*gst_element_set_state)(GstElement* element, int state);
  int (*gst_element_get_state)(GstElement* element, int* state, int* pending, std::uint64_t timeout);
  GstBus* (*gst_element_get_bus)(GstElement* element);
  GstElement* (*gst_bin_get_by_name)(GstElement* bin, const char* name);
  GstMessage* (*gst_bus_timed_pop_filtered)(GstBus* bus, std::uint64_t timeout, unsigned types);
  void (*gst_message_parse_error)(GstMessage* message, GError** error, char** debug);
  void (*gst_object_unref)(void* object);
  void (*gst_mini_object_unref)(void* mini_object);
  void (*g_error_free)(GError* error);
  void (*g_free)(void* memory);
  std::size_t (*gst_buffer_get_size)(GstBuffer* buffer);
  void (*gst_util_set_object_arg)(void* object, const char* name, const char* value);
  unsigned long (*g_signal_connect_data)(void* instance, const char* signal, void (*handler)(), void* data,
                                         void (*destroy)(void*, void*), int flags);
};

static_assert(sizeof(RuntimeSymbols) == 16 * sizeof(void*), "one slot per entry point");
static_assert(sizeof(void*) == 8, "the GstMessage layout above is that of 64-bit builds");

// Signature of GStreamer's initialisation function.
using GstInitCheck = int (*)(int* argc, char*** argv, GError** error);

// The symbol names in resolution order, with the library each comes from and where it is stored.
enum class RuntimeLibrary : std::uint8_t { core, glib, gobject };
struct RuntimeSymbolEntry {
  const char* name;
  RuntimeLibrary library;
  std::size_t offset;  // of the pointer inside RuntimeSymbols
};
inline constexpr std::size_t kRuntimeSymbolCount = 16;
// gst_init_check, then rows 0-10, 13, 14 (core), 11, 12 (GLib), 15 (GObject); gst_init_check is
// not in this list (it is resolved before it).
const RuntimeSymbolEntry (&runtime_symbol_entries())[kRuntimeSymbolCount];

// Stores a resolved address in the table slot that `entry` names.
void store_runtime_symbol(RuntimeSymbols& symbols, const RuntimeSymbolEntry& entry, void* address);

// The libraries of a loaded runtime; releasing the object unloads them (core, GLib, GObject).
class RuntimeLibraries {
 public:
  RuntimeLibraries() = default;
  RuntimeLibraries(const RuntimeLibraries&) = delete;
  RuntimeLibraries& operator=(const RuntimeLibraries&) = delete;
  virtual ~RuntimeLibraries() = default;
};

// The media runtime of a session: the entry points when loading and initialisation succeeded
// (their presence is the one test of availability), otherwise the reason it failed.
struct MediaRuntime {
  std::optional<RuntimeSymbols> symbols;
  std::string runtime_error;
  std::unique_ptr<RuntimeLibraries> libraries;

  bool available() const { return symbols.has_value(); }
};

}  // namespace corvane::helper
