#pragma once
// The small operations every media pipeline of the helper is built from: parsing a pipeline
// description, reading its bus, changing a property, checking for an element, releasing it. Every
// GStreamer call goes through the entry-point table, so the same code runs against the real runtime
// and against a scripted one in tests.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "windows/media/runtime_symbols.h"

namespace corvane::helper {

// Builds a pipeline from a gst-launch description. The caller owns the returned element and hands it
// to a LaunchedPipeline (or releases it with release_pipeline). Fails with GStreamer's text when the description
// does not parse completely: a pipeline that GStreamer returns together with an error is a partial
// one (an element, property or link of the description is missing), so it is released, never run.
Result<GstElement*> launch_description(const RuntimeSymbols& gst, std::string_view text);

// The text of an ERROR message, with a " [component=…]" tag when GStreamer's debug text names the
// system-audio source or the WHIP sink. Takes ownership of `message` and releases it.
std::string describe_bus_error(const RuntimeSymbols& gst, GstMessage* message);

// Sets `property` of the element named `element` inside `pipeline` from its text form (as in a
// pipeline description). GStreamer converts the text; it ignores an unknown property or a text it
// cannot convert (with a warning in its log), so callers set only properties they know exist.
Status set_element_property(const RuntimeSymbols& gst, GstElement* pipeline, std::string_view element,
                            std::string_view property, std::string_view value);

// True when the runtime has an element factory of this name.
bool element_available(const RuntimeSymbols& gst, std::string_view factory);

// What a look at the bus found: nothing of interest, the end of the stream, or an error.
enum class BusEvent { none, eos, error };

struct BusPoll {
  BusEvent event = BusEvent::none;
  std::string error_text;  // describe_bus_error's text when event is error
};

// Takes the next end-of-stream or error message off the bus without waiting, and releases it.
BusPoll poll_bus(const RuntimeSymbols& gst, GstBus* bus);

// Stops the pipeline (state NULL, waiting at most `wait_ns` for the change), then releases the bus
// (when there is one) and the pipeline.
void release_pipeline(const RuntimeSymbols& gst, GstElement* pipeline, GstBus* bus, std::uint64_t wait_ns);

// A launched pipeline and its bus (null when GStreamer gave none), released together at the end with
// release_pipeline, waiting at most `release_wait_ns` for the stop.
class LaunchedPipeline {
 public:
  LaunchedPipeline(const RuntimeSymbols& gst, GstElement* pipeline, std::uint64_t release_wait_ns)
      : gst_(gst), pipeline_(pipeline), bus_(gst.gst_element_get_bus(pipeline)), release_wait_ns_(release_wait_ns) {}
  LaunchedPipeline(const LaunchedPipeline&) = delete;
  LaunchedPipeline& operator=(const LaunchedPipeline&) = delete;
  ~LaunchedPipeline() { release_pipeline(gst_, pipeline_, bus_, release_wait_ns_); }

  GstElement* element() const { return pipeline_; }
  GstBus* bus() const { return bus_; }

 private:
  const RuntimeSymbols& gst_;
  GstElement* pipeline_;
  GstBus* bus_;
  std::uint64_t release_wait_ns_;
};

// "GStreamer 1.22.0" or the like.
std::string runtime_version(const RuntimeSymbols& gst);

}  // namespace corvane::helper
