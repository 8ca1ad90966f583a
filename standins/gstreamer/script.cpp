#include "script.h"

#include <charconv>

namespace corvane::fake_gst {

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Splits "<word> <rest>".
std::pair<std::string_view, std::string_view> first_word(std::string_view text) {
  text = trim(text);
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) {
    return {text, {}};
  }
  return {text.substr(0, space), trim(text.substr(space + 1))};
}

// Splits "<subject> -> <outcome>"; nothing when the arrow is missing.
std::optional<std::pair<std::string, std::string_view>> rule_parts(std::string_view rest) {
  const std::size_t arrow = rest.find("->");
  if (arrow == std::string_view::npos) {
    return std::nullopt;
  }
  return std::pair{std::string(trim(rest.substr(0, arrow))), trim(rest.substr(arrow + 2))};
}

std::optional<int> state_result(std::string_view name) {
  for (int result = 0; result < 4; ++result) {
    if (name == state_result_name(result)) {
      return result;
    }
  }
  return std::nullopt;
}

template <class Number>
std::optional<Number> number(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Applies one line; false when it is not understood.
bool apply(Script& script, std::string_view line) {
  const auto [directive, rest] = first_word(line);
  if (directive == "init") {
    const auto [outcome, text] = first_word(rest);
    if (outcome == "ok") {
      script.init = InitOutcome::ok;
    } else if (outcome == "fail") {
      script.init = InitOutcome::fail;
      script.init_text = std::string(text);
    } else if (outcome == "fail-no-text") {
      script.init = InitOutcome::fail_no_text;
    } else if (outcome == "fail-no-error") {
      script.init = InitOutcome::fail_no_error;
    } else {
      return false;
    }
    return true;
  }
  if (directive == "version") {
    script.version = std::string(rest);
    return true;
  }
  if (directive == "factory") {
    if (rest.empty()) {
      return false;
    }
    script.factories.emplace_back(rest);
    return true;
  }
  if (directive == "handoff") {
    const auto [element, numbers] = first_word(rest);
    const auto [count_text, bytes_text] = first_word(numbers);
    const auto count = number<int>(count_text);
    const auto bytes = number<std::size_t>(bytes_text);
    if (element.empty() || !count || !bytes) {
      return false;
    }
    script.handoff.push_back({std::string(element), *count, *bytes});
    return true;
  }
  const auto parts = rule_parts(rest);
  if (!parts) {
    return false;
  }
  const auto& [subject, outcome_text] = *parts;
  const auto [outcome, text] = first_word(outcome_text);
  if (directive == "parse" || directive == "parse-from") {
    int from = 1;
    std::string matched = subject;
    if (directive == "parse-from") {
      const auto [count_text, rest_of_subject] = first_word(subject);
      const auto count = number<int>(count_text);
      if (!count || *count < 1 || rest_of_subject.empty()) {
        return false;
      }
      from = *count;
      matched = std::string(rest_of_subject);
    }
    if (outcome == "ok") {
      script.parse.push_back({matched, ParseOutcome::ok, {}, from});
    } else if (outcome == "error" || outcome == "partial") {
      script.parse.push_back(
          {matched, outcome == "error" ? ParseOutcome::error : ParseOutcome::partial, std::string(text), from});
    } else {
      return false;
    }
    return true;
  }
  if (directive == "bus") {
    if (outcome == "eos" || outcome == "none") {
      script.bus.push_back({subject, outcome == "eos" ? BusOutcome::eos : BusOutcome::none, {}, std::nullopt});
    } else if (outcome == "error") {
      BusRule rule{subject, BusOutcome::error, std::string(text), std::nullopt};
      if (const std::size_t bar = text.find(" | "); bar != std::string_view::npos) {
        rule.text = std::string(trim(text.substr(0, bar)));
        rule.debug = std::string(trim(text.substr(bar + 3)));
      }
      script.bus.push_back(std::move(rule));
    } else {
      return false;
    }
    return true;
  }
  if (directive == "set-state" || directive == "get-state") {
    const auto result = state_result(outcome_text);
    if (!result) {
      return false;
    }
    (directive == "set-state" ? script.set_state : script.get_state).push_back({subject, *result});
    return true;
  }
  return false;
}

}  // namespace

const char* state_result_name(int result) {
  switch (result) {
    case 0:
      return "failure";
    case 1:
      return "success";
    case 2:
      return "async";
    case 3:
      return "no-preroll";
    default:
      return "unknown";
  }
}

Script parse_script(std::string_view text) {
  Script script;
  int line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (line.empty() || line.front() == '#') {
      continue;
    }
    if (!apply(script, line)) {
      script.errors.push_back("line " + std::to_string(line_number) + ": " + std::string(line));
    }
  }
  return script;
}

}  // namespace corvane::fake_gst
