#pragma once
// Test helper: an in-process stand-in for the GStreamer entry-point table, scripted per test. Every
// description handed to the parser is matched against rules (first rule whose text is contained in
// the description) that say what the pipeline does; every object handed out is counted so a test
// can check that everything was released.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "windows/media/runtime_symbols.h"

namespace corvane::testing {

// What a launched pipeline does.
struct PipelineRule {
  // nameless: the pipeline runs, but no element can be found in it by name.
  enum class Outcome { eos, error, silent, parse_error, no_bus, refuses_playing, state_failure, nameless };

  PipelineRule(std::string contained, Outcome what = Outcome::eos, std::string error_text = {},
               std::string debug_text = {}, int empty_polls = 0, int reported_state = helper::kGstStatePlaying)
      : contains(std::move(contained)),
        outcome(what),
        text(std::move(error_text)),
        debug(std::move(debug_text)),
        polls_before(empty_polls),
        state(reported_state) {}

  std::string contains;  // matched against the description
  Outcome outcome;
  std::string text;   // error text (bus error or parse error)
  std::string debug;  // bus error debug text
  int polls_before;   // empty bus polls before the outcome appears
  int state;          // what get_state reports
};

class FakeGstreamer {
 public:
  // The one stand-in of the process, reset to an empty script.
  static FakeGstreamer& reset();
  static FakeGstreamer& instance();

  helper::RuntimeSymbols table() const;

  std::set<std::string> factories;
  std::string version = "GStreamer 1.26.2";
  std::vector<PipelineRule> rules;  // no match: the pipeline reaches end of stream at once

  std::size_t buffer_bytes = 1000;  // what gst_buffer_get_size reports

  // A "handoff" handler connected to an element of a pipeline.
  struct Handoff {
    const void* pipeline;
    std::string element;
    helper::HandoffCallback callback;
    void* data;
  };
  std::vector<Handoff> handoffs;  // of the pipelines not yet released
  // Buffers through `element` of every pipeline not yet released, as its streaming thread would hand them over.
  void frames(const std::string& element, int count) const;
  // Pipelines set to NULL hand one last buffer to each handler first: a streaming thread may deliver
  // until the state change is complete.
  int frames_while_stopping = 0;

  std::vector<std::string> launched;  // every description parsed
  // State changes ("set_state 4"), element lookups and property sets ("set video_encoder.bitrate=4500").
  std::vector<std::string> calls;
  long live_objects = 0;  // handed out and not yet released
  int factory_lookups = 0;
};

// The factories of a machine with everything but the named encoders and capture elements.
std::set<std::string> common_factories();

}  // namespace corvane::testing
