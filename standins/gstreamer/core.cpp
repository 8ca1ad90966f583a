// The stand-in gstreamer-1.0-0.dll: GStreamer's entry points as the helper calls them, scripted by
// CORVANE_STANDIN_GST_SCRIPT and recorded to CORVANE_STANDIN_GST_RECORD (README.md).
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "script.h"
#include "support.h"
#include "windows/media/runtime_symbols.h"

using corvane::helper::GError;
using corvane::helper::GstBuffer;
using corvane::helper::GstBus;
using corvane::helper::GstElement;
using corvane::helper::GstElementFactory;
using corvane::helper::GstMessage;

namespace corvane::fake_gst {
namespace {

constexpr std::uint32_t kParseErrorDomain = 1;   // stands for GST_PARSE_ERROR
constexpr std::uint32_t kStreamErrorDomain = 2;  // stands for GST_STREAM_ERROR
constexpr int kStateVoidPending = 0;

enum class Kind : std::uint8_t { factory, pipeline, element, bus };

struct Object;

struct HandoffHandler {
  helper::HandoffCallback callback;
  void* data;
};

struct Object {
  Kind kind;
  std::string name;
  int references = 1;
  Object* pipeline = nullptr;  // an element's or bus's pipeline
  // Pipelines.
  std::string description;
  int state = helper::kGstStateNull;
  std::deque<BusRule> bus_queue;
  Object* bus = nullptr;
  std::map<std::string, Object*> children;
  // Elements.
  std::vector<HandoffHandler> handoff_handlers;
};

// A GstMessage as the helper reads it: the type right after the 64-byte mini-object header.
struct MessageHead {
  unsigned char mini_object[64];
  std::uint32_t type;
};
static_assert(offsetof(MessageHead, type) == helper::kGstMessageTypeOffset);

struct Message {
  MessageHead head;
  char* text;   // heap
  char* debug;  // heap, may be null
};

struct Buffer {
  std::size_t size;
};

struct State {
  std::mutex mutex;
  bool script_read = false;
  Script script;
  std::vector<std::unique_ptr<Object>> objects;
  std::set<const void*> live_objects;
  std::set<const void*> messages;
  std::set<const void*> buffers;
  int pipelines = 0;
  unsigned long next_handler = 1;
  std::vector<int> parse_matches;  // per parse rule: the descriptions so far that contain its subject
};

State& state() {
  static State instance;
  return instance;
}

// The script, read once (on the first call); the caller holds the mutex.
const Script& script(State& s) {
  if (!s.script_read) {
    s.script_read = true;
    if (const auto path = environment(L"CORVANE_STANDIN_GST_SCRIPT")) {
      std::string text;
      HANDLE file = CreateFileA(path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        record("script-error cannot read " + *path);
      } else {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
          text.append(buffer, got);
        }
        CloseHandle(file);
      }
      s.script = parse_script(text);
      for (const auto& error : s.script.errors) {
        record("script-error " + error);
      }
    }
  }
  return s.script;
}

Object* make_object(State& s, Kind kind, std::string name) {
  auto object = std::make_unique<Object>();
  object->kind = kind;
  object->name = std::move(name);
  Object* raw = object.get();
  s.objects.push_back(std::move(object));
  s.live_objects.insert(raw);
  return raw;
}

Object* find_object(State& s, const void* pointer) {
  return s.live_objects.count(pointer) != 0 ? static_cast<Object*>(const_cast<void*>(pointer)) : nullptr;
}

std::string name_of(State& s, const void* pointer) {
  if (pointer == nullptr) {
    return "<null>";
  }
  const Object* object = find_object(s, pointer);
  return object != nullptr ? object->name : "<unknown>";
}

Object* pipeline_of(Object* object) {
  if (object == nullptr) {
    return nullptr;
  }
  return object->kind == Kind::pipeline ? object : object->pipeline;
}

// True when the description names an element `name` ("name=<name>" as a whole word).
[[maybe_unused]] bool names_element(const std::string& description, const std::string& name) {
  const std::string key = "name=" + name;
  for (std::size_t at = description.find(key); at != std::string::npos; at = description.find(key, at + 1)) {
    const bool starts = at == 0 || description[at - 1] == ' ';
    const std::size_t end = at + key.size();
    const bool ends = end == description.size() || description[end] == ' ' || description[end] == '!';
    if (starts && ends) {
      return true;
    }
  }
  return false;
}

template <class Rule>
const Rule* first_match(const std::vector<Rule>& rules, const std::string& description) {
  for (const auto& rule : rules) {
    if (description.find(rule.subject) != std::string::npos) {
      return &rule;
    }
  }
  return nullptr;
}

const char* state_name(int state) {
  static const char* const names[] = {"VOID_PENDING", "NULL", "READY", "PAUSED", "PLAYING"};
  return state >= 0 && state <= 4 ? names[state] : "INVALID";
}

GError* new_error(std::uint32_t domain, int code, const char* text) {
  auto* error = static_cast<GError*>(heap_allocate(sizeof(GError)));
  error->domain = domain;
  error->code = code;
  error->message = text != nullptr ? heap_string(text) : nullptr;
  return error;
}

}  // namespace
}  // namespace corvane::fake_gst

using namespace corvane::fake_gst;  // the exports below are C functions outside the namespace

extern "C" {

__declspec(dllexport) int gst_init_check(int* /*argc*/, char*** /*argv*/, GError** error) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  const Script& sc = script(s);
  record(std::string("gst_init_check -> ") + (sc.init == InitOutcome::ok ? "ok" : "fail"));
  for (const wchar_t* name :
       {L"GST_PLUGIN_PATH_1_0", L"GST_PLUGIN_SYSTEM_PATH_1_0", L"GST_PLUGIN_SCANNER_1_0", L"GST_REGISTRY_1_0"}) {
    record("env " + utf8(name) + "=" + environment(name).value_or("<unset>"));
  }
  wchar_t directory[MAX_PATH * 4];
  const DWORD length = GetDllDirectoryW(MAX_PATH * 4, directory);
  record("dll-directory " + (length == 0 ? std::string("<none>") : utf8(std::wstring_view(directory, length))));
  switch (sc.init) {
    case InitOutcome::ok:
      return 1;
    case InitOutcome::fail:
      if (error != nullptr) {
        *error = new_error(0, 0, sc.init_text.c_str());
      }
      return 0;
    case InitOutcome::fail_no_text:
      if (error != nullptr) {
        *error = new_error(0, 0, nullptr);
      }
      return 0;
    case InitOutcome::fail_no_error:
      return 0;
  }
  return 0;
}

__declspec(dllexport) char* gst_version_string() {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  record("gst_version_string");
  return heap_string(script(s).version);
}

__declspec(dllexport) GstElementFactory* gst_element_factory_find(const char* name) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  const std::string wanted = name != nullptr ? name : "";
  const auto& factories = script(s).factories;
  if (std::find(factories.begin(), factories.end(), wanted) == factories.end()) {
    record("gst_element_factory_find " + wanted + " -> none");
    return nullptr;
  }
  record("gst_element_factory_find " + wanted + " -> found");
  return reinterpret_cast<GstElementFactory*>(make_object(s, Kind::factory, "factory:" + wanted));
}

__declspec(dllexport) GstElement* gst_parse_launch(const char* description, GError** error) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  const Script& sc = script(s);
  const std::string text = description != nullptr ? description : "";
  // The first rule whose subject the description contains and whose count has been reached.
  s.parse_matches.resize(sc.parse.size());
  const ParseRule* rule = nullptr;
  for (std::size_t i = 0; i < sc.parse.size(); ++i) {
    if (text.find(sc.parse[i].subject) != std::string::npos && ++s.parse_matches[i] >= sc.parse[i].from &&
        rule == nullptr) {
      rule = &sc.parse[i];
    }
  }
  const ParseOutcome outcome = rule != nullptr ? rule->outcome : ParseOutcome::ok;
  if (outcome != ParseOutcome::ok && error != nullptr) {
    *error = new_error(kParseErrorDomain, 0, rule->text.c_str());
  }
  if (outcome == ParseOutcome::error) {
    record("gst_parse_launch " + text + " -> error");
    return nullptr;
  }
  Object* pipeline = make_object(s, Kind::pipeline, "pipeline" + std::to_string(++s.pipelines));
  pipeline->description = text;
  for (const auto& bus_rule : sc.bus) {
    if (text.find(bus_rule.subject) != std::string::npos) {
      pipeline->bus_queue.push_back(bus_rule);
    }
  }
  record("gst_parse_launch " + text + " -> " + (outcome == ParseOutcome::ok ? "" : "partial ") + pipeline->name);
  return reinterpret_cast<GstElement*>(pipeline);
}

__declspec(dllexport) int gst_element_set_state(GstElement* element, int target) {
  std::vector<std::pair<HandoffHandler, Object*>> handlers;
  std::vector<int> counts;
  std::vector<std::size_t> sizes;
  int result = 1;
  {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    Object* object = find_object(s, element);
    Object* pipeline = pipeline_of(object);
    if (pipeline != nullptr && object == pipeline && target != corvane::helper::kGstStateNull) {
      if (const StateRule* rule = first_match(script(s).set_state, pipeline->description)) {
        result = rule->result;
      }
    }
    if (object == nullptr) {
      result = 0;
    }
    record("gst_element_set_state " + name_of(s, element) + " " + state_name(target) + " -> " +
           state_result_name(result));
    if (result != 0 && object != nullptr) {
      object->state = target;
    }
    if (result != 0 && object == pipeline && pipeline != nullptr && target == corvane::helper::kGstStatePlaying) {
      for (const auto& rule : script(s).handoff) {
        const auto child = pipeline->children.find(rule.element);
        if (child == pipeline->children.end()) {
          continue;
        }
        for (const auto& handler : child->second->handoff_handlers) {
          handlers.emplace_back(handler, child->second);
          counts.push_back(rule.count);
          sizes.push_back(rule.bytes);
        }
      }
    }
  }
  // Handlers run without the lock: they call back into the runtime.
  for (std::size_t i = 0; i < handlers.size(); ++i) {
    for (int n = 0; n < counts[i]; ++n) {
      Buffer buffer{sizes[i]};
      {
        State& s = state();
        const std::lock_guard lock(s.mutex);
        s.buffers.insert(&buffer);
      }
      handlers[i].first.callback(reinterpret_cast<GstElement*>(handlers[i].second),
                                 reinterpret_cast<GstBuffer*>(&buffer), handlers[i].first.data);
      State& s = state();
      const std::lock_guard lock(s.mutex);
      s.buffers.erase(&buffer);
    }
  }
  return result;
}

__declspec(dllexport) int gst_element_get_state(GstElement* element, int* current, int* pending,
                                                std::uint64_t timeout) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  Object* object = find_object(s, element);
  Object* pipeline = pipeline_of(object);
  int result = object != nullptr ? 1 : 0;
  if (pipeline != nullptr && object == pipeline) {
    if (const StateRule* rule = first_match(script(s).get_state, pipeline->description)) {
      result = rule->result;
    }
  }
  if (current != nullptr) {
    *current = object != nullptr ? object->state : kStateVoidPending;
  }
  if (pending != nullptr) {
    *pending = kStateVoidPending;
  }
  record("gst_element_get_state " + name_of(s, element) + " timeout=" + std::to_string(timeout) + " -> " +
         state_result_name(result));
  return result;
}

__declspec(dllexport) GstBus* gst_element_get_bus(GstElement* element) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  Object* pipeline = pipeline_of(find_object(s, element));
  if (pipeline == nullptr) {
    record("gst_element_get_bus " + name_of(s, element) + " -> none");
    return nullptr;
  }
  if (pipeline->bus == nullptr) {
    pipeline->bus = make_object(s, Kind::bus, "bus:" + pipeline->name);
    pipeline->bus->pipeline = pipeline;
  }
  ++pipeline->bus->references;
  record("gst_element_get_bus " + pipeline->name + " -> " + pipeline->bus->name);
  return reinterpret_cast<GstBus*>(pipeline->bus);
}

#ifndef CORVANE_STANDIN_GST_OMIT_BIN_GET_BY_NAME
// A variant of this library is built without this export, for the loader's missing-symbol path.
__declspec(dllexport) GstElement* gst_bin_get_by_name(GstElement* bin, const char* name) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  Object* object = find_object(s, bin);
  const std::string wanted = name != nullptr ? name : "";
  if (object == nullptr || object->kind != Kind::pipeline || !names_element(object->description, wanted)) {
    record("gst_bin_get_by_name " + name_of(s, bin) + " " + wanted + " -> none");
    return nullptr;
  }
  Object*& child = object->children[wanted];
  if (child == nullptr) {
    child = make_object(s, Kind::element, wanted);
    child->pipeline = object;
  }
  ++child->references;
  record("gst_bin_get_by_name " + object->name + " " + wanted + " -> found");
  return reinterpret_cast<GstElement*>(child);
}
#endif

__declspec(dllexport) GstMessage* gst_bus_timed_pop_filtered(GstBus* bus, std::uint64_t timeout, unsigned types) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  Object* object = find_object(s, bus);
  const std::string head = "gst_bus_timed_pop_filtered " + name_of(s, bus) + " timeout=" + std::to_string(timeout) +
                           " types=" + std::to_string(types) + " -> ";
  if (object == nullptr || object->kind != Kind::bus) {
    record(head + "none");
    return nullptr;
  }
  auto& queue = object->pipeline->bus_queue;
  while (!queue.empty()) {
    const BusRule rule = queue.front();
    queue.pop_front();
    if (rule.outcome == BusOutcome::none) {
      break;
    }
    const unsigned type =
        rule.outcome == BusOutcome::eos ? corvane::helper::kGstMessageEos : corvane::helper::kGstMessageError;
    if ((types & type) == 0) {
      continue;  // filtered out, and dropped as GStreamer does
    }
    auto* message = new Message{};
    std::memcpy(message->head.mini_object, "corvane-fake-message", 20);
    message->head.type = type;
    message->text = heap_string(rule.text);
    message->debug = rule.debug ? heap_string(*rule.debug) : nullptr;
    s.messages.insert(message);
    record(head + (type == corvane::helper::kGstMessageEos ? "eos" : "error " + rule.text));
    return reinterpret_cast<GstMessage*>(message);
  }
  record(head + "none");
  return nullptr;
}

__declspec(dllexport) void gst_message_parse_error(GstMessage* message, GError** error, char** debug) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  if (s.messages.count(message) == 0) {
    record("gst_message_parse_error <unknown>");
    return;
  }
  const auto* fake = reinterpret_cast<const Message*>(message);
  record(std::string("gst_message_parse_error ") + fake->text);
  if (error != nullptr) {
    *error = new_error(kStreamErrorDomain, 1, fake->text);
  }
  if (debug != nullptr) {
    *debug = fake->debug != nullptr ? heap_string(fake->debug) : nullptr;
  }
}

__declspec(dllexport) void gst_object_unref(void* pointer) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  Object* object = find_object(s, pointer);
  if (object == nullptr) {
    record("gst_object_unref " + name_of(s, pointer));
    return;
  }
  --object->references;
  record("gst_object_unref " + object->name + " -> " + std::to_string(object->references) +
         (object->references < 0 ? " over-released" : ""));
}

__declspec(dllexport) void gst_mini_object_unref(void* pointer) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  if (s.messages.count(pointer) == 0) {
    record(std::string("gst_mini_object_unref ") + (pointer == nullptr ? "<null>" : "<unknown>"));
    return;
  }
  s.messages.erase(pointer);
  auto* message = static_cast<Message*>(pointer);
  record(std::string("gst_mini_object_unref message ") +
         (message->head.type == corvane::helper::kGstMessageEos ? "eos" : "error"));
  heap_free(message->text);
  heap_free(message->debug);
  delete message;
}

__declspec(dllexport) std::size_t gst_buffer_get_size(GstBuffer* buffer) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  if (s.buffers.count(buffer) == 0) {
    record(std::string("gst_buffer_get_size ") + (buffer == nullptr ? "<null>" : "<unknown>"));
    return 0;
  }
  const std::size_t size = reinterpret_cast<const Buffer*>(buffer)->size;
  record("gst_buffer_get_size " + std::to_string(size));
  return size;
}

__declspec(dllexport) void gst_util_set_object_arg(void* object, const char* name, const char* value) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  record("gst_util_set_object_arg " + name_of(s, object) + " " + (name != nullptr ? name : "<null>") + " " +
         (value != nullptr ? value : "<null>"));
}

// Not a GStreamer entry point: the stand-in GObject library connects signals through it.
__declspec(dllexport) unsigned long corvane_standin_gst_connect(void* instance, const char* signal, void (*handler)(),
                                                                void* data) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  const std::string signal_name = signal != nullptr ? signal : "<null>";
  Object* object = find_object(s, instance);
  if (object == nullptr || handler == nullptr) {
    record("g_signal_connect_data " + name_of(s, instance) + " " + signal_name + " -> 0");
    return 0;
  }
  if (object->kind == Kind::element && signal_name == "handoff") {
    object->handoff_handlers.push_back({reinterpret_cast<corvane::helper::HandoffCallback>(handler), data});
  }
  const unsigned long id = s.next_handler++;
  record("g_signal_connect_data " + object->name + " " + signal_name + " -> " + std::to_string(id));
  return id;
}

#ifdef CORVANE_STANDIN_GST_IMPORT_GLIB
// This variant imports GLib like the real core, so that it only loads where GLib can be found.
__declspec(dllimport) void g_free(void* memory);
#endif

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
#ifdef CORVANE_STANDIN_GST_IMPORT_GLIB
  static void (*volatile keep_import)(void*) = &g_free;
  static_cast<void>(keep_import);
#endif
  // Unloading by FreeLibrary (not at process exit): the order the loader releases the libraries in.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    record("unload gstreamer-1.0-0.dll");
  }
  return TRUE;
}

}  // extern "C"

// Every export has the type of its slot in the helper's table.
#define CORVANE_SAME_TYPE(name) \
  static_assert(std::is_same_v<decltype(&name), decltype(corvane::helper::RuntimeSymbols::name)>, #name)
static_assert(std::is_same_v<decltype(&gst_init_check), corvane::helper::GstInitCheck>);
CORVANE_SAME_TYPE(gst_version_string);
CORVANE_SAME_TYPE(gst_element_factory_find);
CORVANE_SAME_TYPE(gst_parse_launch);
CORVANE_SAME_TYPE(gst_element_set_state);
CORVANE_SAME_TYPE(gst_element_get_state);
CORVANE_SAME_TYPE(gst_element_get_bus);
CORVANE_SAME_TYPE(gst_bus_timed_pop_filtered);
CORVANE_SAME_TYPE(gst_message_parse_error);
CORVANE_SAME_TYPE(gst_object_unref);
CORVANE_SAME_TYPE(gst_mini_object_unref);
CORVANE_SAME_TYPE(gst_buffer_get_size);
CORVANE_SAME_TYPE(gst_util_set_object_arg);
#ifndef CORVANE_STANDIN_GST_OMIT_BIN_GET_BY_NAME
CORVANE_SAME_TYPE(gst_bin_get_by_name);
#endif
