#include "fake_gstreamer.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace corvane::testing {

namespace {

using helper::GError;

FakeGstreamer fake;

// Every handed-out object starts with this header; messages keep their type at byte 64.
struct FakeObject {
  unsigned char header[helper::kGstMessageTypeOffset] = {};
  std::uint32_t message_type = 0;
  enum class Kind { pipeline, bus, message, factory, element } kind = Kind::pipeline;
  std::size_t rule = static_cast<std::size_t>(-1);
  int polls = 0;
  FakeObject* pipeline = nullptr;  // of a bus or an element
  std::string description;
};

FakeObject* make(FakeObject::Kind kind) {
  auto* object = new FakeObject();
  object->kind = kind;
  ++fake.live_objects;
  return object;
}

void destroy(void* object) {
  if (object != nullptr) {
    --fake.live_objects;
    std::erase_if(fake.handoffs,
                  [object](const FakeGstreamer::Handoff& handoff) { return handoff.pipeline == object; });
    delete static_cast<FakeObject*>(object);
  }
}

char* copy_text(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  ++fake.live_objects;
  return copy;
}

GError* make_error(const std::string& text) {
  auto* error = static_cast<GError*>(std::malloc(sizeof(GError)));
  error->domain = 1;
  error->code = 1;
  error->message = text.empty() ? nullptr : copy_text(text);
  ++fake.live_objects;
  return error;
}

const PipelineRule* rule_of(const FakeObject* pipeline) {
  return pipeline != nullptr && pipeline->rule < fake.rules.size() ? &fake.rules[pipeline->rule] : nullptr;
}

char* version_string() { return copy_text(fake.version); }

helper::GstElementFactory* factory_find(const char* name) {
  ++fake.factory_lookups;
  if (fake.factories.count(name) == 0) {
    return nullptr;
  }
  return reinterpret_cast<helper::GstElementFactory*>(make(FakeObject::Kind::factory));
}

helper::GstElement* parse_launch(const char* description, GError** error) {
  fake.launched.emplace_back(description);
  std::size_t matched = static_cast<std::size_t>(-1);
  for (std::size_t i = 0; i < fake.rules.size(); ++i) {
    if (fake.launched.back().find(fake.rules[i].contains) != std::string::npos) {
      matched = i;
      break;
    }
  }
  if (matched != static_cast<std::size_t>(-1) && fake.rules[matched].outcome == PipelineRule::Outcome::parse_error) {
    *error = make_error(fake.rules[matched].text);
    return nullptr;
  }
  FakeObject* pipeline = make(FakeObject::Kind::pipeline);
  pipeline->rule = matched;
  pipeline->description = description;
  return reinterpret_cast<helper::GstElement*>(pipeline);
}

int set_state(helper::GstElement* element, int state) {
  auto* pipeline = reinterpret_cast<FakeObject*>(element);
  fake.calls.push_back("set_state " + std::to_string(state));
  if (state == helper::kGstStateNull) {
    for (const auto& handoff : fake.handoffs) {
      if (handoff.pipeline == pipeline) {
        handoff.callback(nullptr, nullptr, handoff.data);
        ++fake.frames_while_stopping;
      }
    }
  }
  const PipelineRule* rule = rule_of(pipeline);
  if (state == helper::kGstStatePlaying && rule != nullptr && rule->outcome == PipelineRule::Outcome::refuses_playing) {
    return helper::kGstStateChangeFailure;
  }
  return 2;  // ASYNC, like the real probes
}

int get_state(helper::GstElement* element, int* state, int* pending, std::uint64_t /*timeout*/) {
  const PipelineRule* rule = rule_of(reinterpret_cast<FakeObject*>(element));
  *state = rule != nullptr ? rule->state : helper::kGstStatePlaying;
  *pending = 0;
  if (rule != nullptr && rule->outcome == PipelineRule::Outcome::state_failure) {
    return helper::kGstStateChangeFailure;
  }
  return 1;  // SUCCESS
}

helper::GstBus* get_bus(helper::GstElement* element) {
  auto* pipeline = reinterpret_cast<FakeObject*>(element);
  const PipelineRule* rule = rule_of(pipeline);
  if (rule != nullptr && rule->outcome == PipelineRule::Outcome::no_bus) {
    return nullptr;
  }
  FakeObject* bus = make(FakeObject::Kind::bus);
  bus->pipeline = pipeline;
  return reinterpret_cast<helper::GstBus*>(bus);
}

helper::GstElement* bin_get_by_name(helper::GstElement* bin, const char* name) {
  fake.calls.push_back(std::string("get_by_name ") + name);
  // An element exists when the description names it.
  const std::string& description = reinterpret_cast<FakeObject*>(bin)->description;
  const PipelineRule* rule = rule_of(reinterpret_cast<FakeObject*>(bin));
  const bool named = description.find(std::string("name=") + name + " ") != std::string::npos ||
                     description.ends_with(std::string("name=") + name);
  if (!named || (rule != nullptr && rule->outcome == PipelineRule::Outcome::nameless)) {
    return nullptr;
  }
  FakeObject* element = make(FakeObject::Kind::element);
  element->description = name;
  element->pipeline = reinterpret_cast<FakeObject*>(bin);
  return reinterpret_cast<helper::GstElement*>(element);
}

helper::GstMessage* timed_pop(helper::GstBus* bus_handle, std::uint64_t /*timeout*/, unsigned /*types*/) {
  auto* bus = reinterpret_cast<FakeObject*>(bus_handle);
  FakeObject* pipeline = bus->pipeline;
  const PipelineRule* rule = rule_of(pipeline);
  const auto outcome = rule != nullptr ? rule->outcome : PipelineRule::Outcome::eos;
  if (rule != nullptr && pipeline->polls < rule->polls_before) {
    ++pipeline->polls;  // counts only up to the rule's number, so endless polling cannot overflow it
    return nullptr;
  }
  if (outcome != PipelineRule::Outcome::eos && outcome != PipelineRule::Outcome::error) {
    return nullptr;
  }
  FakeObject* message = make(FakeObject::Kind::message);
  message->message_type = outcome == PipelineRule::Outcome::eos ? helper::kGstMessageEos : helper::kGstMessageError;
  message->rule = pipeline->rule;
  return reinterpret_cast<helper::GstMessage*>(message);
}

void parse_error(helper::GstMessage* message_handle, GError** error, char** debug) {
  auto* message = reinterpret_cast<FakeObject*>(message_handle);
  const PipelineRule* rule = message->rule < fake.rules.size() ? &fake.rules[message->rule] : nullptr;
  *error = make_error(rule != nullptr ? rule->text : "");
  *debug = rule != nullptr && !rule->debug.empty() ? copy_text(rule->debug) : nullptr;
}

void object_unref(void* object) { destroy(object); }
void mini_object_unref(void* object) { destroy(object); }

void error_free(GError* error) {
  if (error != nullptr) {
    if (error->message != nullptr) {
      --fake.live_objects;
      std::free(error->message);
    }
    --fake.live_objects;
    std::free(error);
  }
}

void free_memory(void* memory) {
  if (memory != nullptr) {
    --fake.live_objects;
    std::free(memory);
  }
}

std::size_t buffer_size(helper::GstBuffer* /*buffer*/) { return fake.buffer_bytes; }

void set_object_arg(void* object, const char* name, const char* value) {
  fake.calls.push_back("set " + static_cast<FakeObject*>(object)->description + "." + name + "=" + value);
}

unsigned long signal_connect(void* instance, const char* signal, void (*handler)(), void* data,
                             void (* /*destroy*/)(void*, void*), int /*flags*/) {
  const auto* element = static_cast<FakeObject*>(instance);
  if (std::string_view(signal) == "handoff") {
    fake.handoffs.push_back(
        {element->pipeline, element->description, reinterpret_cast<helper::HandoffCallback>(handler), data});
  }
  return static_cast<unsigned long>(fake.handoffs.size());
}

}  // namespace

FakeGstreamer& FakeGstreamer::reset() {
  fake = FakeGstreamer();
  return fake;
}

FakeGstreamer& FakeGstreamer::instance() { return fake; }

void FakeGstreamer::frames(const std::string& element, int count) const {
  for (int i = 0; i < count; ++i) {
    for (const auto& handoff : handoffs) {
      if (handoff.element == element) {
        handoff.callback(nullptr, nullptr, handoff.data);
      }
    }
  }
}

helper::RuntimeSymbols FakeGstreamer::table() const {
  return helper::RuntimeSymbols{version_string, factory_find, parse_launch,      set_state,
                                get_state,      get_bus,      bin_get_by_name,   timed_pop,
                                parse_error,    object_unref, mini_object_unref, error_free,
                                free_memory,    buffer_size,  set_object_arg,    signal_connect};
}

std::set<std::string> common_factories() {
  return {"d3d11screencapturesrc", "d3d11convert", "d3d11upload", "d3d11download", "h264parse",     "webrtcbin",
          "whipclientsink",        "identity",     "wasapi2src",  "audioconvert",  "audioresample", "opusenc",
          "videotestsrc",          "videoconvert", "fakesink"};
}

}  // namespace corvane::testing
