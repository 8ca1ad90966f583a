#pragma once
// The stand-in core's behaviour, read from the text file that CORVANE_STANDIN_GST_SCRIPT names (README.md
// describes the language).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::fake_gst {

enum class InitOutcome : std::uint8_t { ok, fail, fail_no_text, fail_no_error };
enum class ParseOutcome : std::uint8_t { ok, error, partial };
enum class BusOutcome : std::uint8_t { eos, error, none };

struct ParseRule {
  std::string subject;  // a substring of the description; empty matches every description
  ParseOutcome outcome = ParseOutcome::ok;
  std::string text;
  int from = 1;  // applies from the from-th description containing `subject` on (counted from 1)
};

struct BusRule {
  std::string subject;
  BusOutcome outcome = BusOutcome::none;
  std::string text;
  std::optional<std::string> debug;
};

struct StateRule {
  std::string subject;
  int result = 1;  // GstStateChangeReturn
};

struct HandoffRule {
  std::string element;
  int count = 0;
  std::size_t bytes = 0;
};

struct Script {
  InitOutcome init = InitOutcome::ok;
  std::string init_text;
  std::string version = "GStreamer 1.26.2";
  std::vector<std::string> factories;
  std::vector<ParseRule> parse;
  std::vector<BusRule> bus;
  std::vector<StateRule> set_state;
  std::vector<StateRule> get_state;
  std::vector<HandoffRule> handoff;
  // Lines that were not understood ("line N: text"); the core records them.
  std::vector<std::string> errors;
};

// Reads a script; unknown or malformed lines land in `errors` and are otherwise ignored.
Script parse_script(std::string_view text);

// The GstStateChangeReturn name of a result ("success", …) and back.
const char* state_result_name(int result);

}  // namespace corvane::fake_gst
