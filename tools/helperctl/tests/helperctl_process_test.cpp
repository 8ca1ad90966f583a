// helperctl.exe as a program: started with pipes for its output, against a scripted stand-in helper
// (helperctl_fake_helper.exe) and against the real helper.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/unicode.h"
#include "helperctl/launch.h"

namespace corvane::helperctl {
namespace {

// A guard against a hung child, never a pass condition.
constexpr DWORD kTimeLimitMs = 60000;

struct Outcome {
  DWORD exit_code = 0;
  std::string output;
  std::string error;
  bool finished = false;
};

std::wstring beside_tests(std::wstring_view file) {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + std::wstring(file);
}

// Reads a pipe to its end on a thread.
class PipeReader {
 public:
  explicit PipeReader(HANDLE pipe) : pipe_(pipe), text_(std::make_shared<std::string>()) {
    thread_ = std::thread([pipe = pipe_, text = text_] {
      char buffer[4096];
      DWORD got = 0;
      while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text->append(buffer, got);
      }
    });
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() {
    if (thread_.joinable()) {
      thread_.join();
    }
    CloseHandle(pipe_);
  }
  std::string finish() {
    thread_.join();
    return *text_;
  }

 private:
  HANDLE pipe_;
  std::shared_ptr<std::string> text_;
  std::thread thread_;
};

// Runs helperctl.exe with `arguments`; `scenario` picks the stand-in helper's behaviour. Every process
// it starts belongs to one job that is ended if the time limit passes.
Outcome run_helperctl(const std::vector<std::string>& arguments, const wchar_t* scenario) {
  Outcome outcome;
  SetEnvironmentVariableW(L"HELPERCTL_FAKE_SCENARIO", scenario);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output_read = nullptr;
  HANDLE output_write = nullptr;
  HANDLE error_read = nullptr;
  HANDLE error_write = nullptr;
  if (!CreatePipe(&output_read, &output_write, &inheritable, 0) ||
      !CreatePipe(&error_read, &error_write, &inheritable, 0)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return outcome;
  }
  SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(error_read, HANDLE_FLAG_INHERIT, 0);

  std::string command_line;
  append_command_line_argument(command_line, "helperctl.exe");
  for (const auto& argument : arguments) {
    append_command_line_argument(command_line, argument);
  }
  std::wstring wide_line = utf8_to_utf16<wchar_t>(command_line);
  const std::wstring program = beside_tests(L"helperctl.exe");

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output_write;
  startup.hStdError = error_write;
  PROCESS_INFORMATION info{};
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  const BOOL created = CreateProcessW(program.c_str(), wide_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, nullptr, &startup, &info);
  const DWORD create_error = GetLastError();
  CloseHandle(output_write);
  CloseHandle(error_write);
  PipeReader output(output_read);
  PipeReader error(error_read);
  if (!created) {
    ADD_FAILURE() << "cannot start helperctl.exe: error " << create_error;
    CloseHandle(job);
    return outcome;
  }
  if (job != nullptr) {
    AssignProcessToJobObject(job, info.hProcess);
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  outcome.finished = WaitForSingleObject(info.hProcess, kTimeLimitMs) == WAIT_OBJECT_0;
  if (!outcome.finished) {
    ADD_FAILURE() << "helperctl did not finish in time";
    if (job != nullptr) {
      TerminateJobObject(job, 99);
    }
    TerminateProcess(info.hProcess, 99);
    WaitForSingleObject(info.hProcess, kTimeLimitMs);
  }
  GetExitCodeProcess(info.hProcess, &outcome.exit_code);
  CloseHandle(info.hProcess);
  // Standard error ends when the helper, which shares it, has exited too.
  outcome.output = output.finish();
  outcome.error = error.finish();
  if (job != nullptr) {
    CloseHandle(job);
  }
  return outcome;
}

Outcome run_with_fake(const std::vector<std::string>& commands, const wchar_t* scenario) {
  std::vector<std::string> arguments = {
      "--helper", utf16_to_utf8_lossy(std::wstring_view(beside_tests(L"helperctl_fake_helper.exe")))};
  arguments.insert(arguments.end(), commands.begin(), commands.end());
  return run_helperctl(arguments, scenario);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      out.push_back(text.substr(start) + "<no line end>");
      break;
    }
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

const std::string kAuthenticated =
    R"({"request_id":"auth","helper_status":{"ok":true,"status":"authenticated","detail":""}})";

TEST(helperctlProgram, HelpGoesToStandardOutput) {
  const auto outcome = run_helperctl({"--help"}, L"exit");
  EXPECT_EQ(outcome.exit_code, 0U);
  EXPECT_EQ(outcome.output.rfind("Usage: helperctl", 0), 0U) << outcome.output;
  EXPECT_EQ(outcome.error, "");
}

TEST(helperctlProgram, OwnErrorsAreOneLineAndCodeTwoWithoutStartingTheHelper) {
  // The stand-in would write a line of its own if it were started.
  const auto bad_command = run_with_fake({"caps", "bogus"}, L"exit");
  EXPECT_EQ(bad_command.exit_code, 2U);
  EXPECT_EQ(bad_command.output, "");
  EXPECT_EQ(bad_command.error, "helperctl: unknown command \"bogus\" (see helperctl --help)\n");

  const auto bad_json = run_with_fake({"start", R"({"width":"wide"})"}, L"exit");
  EXPECT_EQ(bad_json.exit_code, 2U);
  EXPECT_EQ(bad_json.output, "");
  EXPECT_EQ(bad_json.error, "helperctl: start: \"width\" must be a number\n");
}

TEST(helperctlProgram, AHelperThatCannotBeStartedIsHelperctlsError) {
  const auto outcome = run_helperctl(
      {"--helper", utf16_to_utf8_lossy(std::wstring_view(beside_tests(L"no_such_helper.exe"))), "caps"}, L"exit");
  EXPECT_EQ(outcome.exit_code, 2U);
  EXPECT_EQ(outcome.output, "");
  const auto error_lines = lines(outcome.error);
  ASSERT_EQ(error_lines.size(), 1U) << outcome.error;
  EXPECT_EQ(error_lines[0].rfind("helperctl: cannot start ", 0), 0U) << outcome.error;
}

TEST(helperctlProgram, AHelperThatExitsBeforeItsPipeExistsGivesItsCodeAndStandardError) {
  const auto outcome = run_with_fake({"caps", "sources"}, L"exit");
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 1U);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.error, "fake-helper: leaving at once\n");
}

TEST(helperctlProgram, PrintsEventsAndStrayRepliesBeforeEachReply) {
  const auto outcome = run_with_fake({"caps", "sources", "ptt", "on", "17", "0x71", "stop"}, L"serve");
  // The stand-in exits with 5 once helperctl has closed its end; it checked the command line, the
  // parent, the nonce and the process ID of the Authenticate frame (else it exits with 8 or 9).
  EXPECT_EQ(outcome.exit_code, 5U) << outcome.error;
  EXPECT_EQ(outcome.error, "");
  const std::vector<std::string> expected = {
      kAuthenticated,
      R"({"request_id":"","broadcast_stats":{"frames_per_second":29.97,"bitrate_bps":2500000,)"
      R"("average_latency_ms":0,"dropped_frames":0,"encoder":"x264enc","profile_id":"","encoder_kind":"",)"
      R"("recovery_reason":""}})",
      R"({"request_id":"stray","helper_status":{"ok":true,"status":"unrelated","detail":""}})",
      R"({"request_id":"1","media_capabilities":{"windows_graphics_capture_available":false,)"
      R"("system_audio_available":false,"always_true":true,"usable_encoders":["x264enc"],"active_encoder":"",)"
      R"("active_probe_profile":"","unavailable_reasons":{},"runtime_version":"","active_encoder_kind":"",)"
      R"("allowed_profile_ids":[],"encoders":[],"ok":true}})",
      "{\"request_id\":\"2\",\"capture_source_list\":{\"sources\":[{\"id\":\"monitor:0\",\"kind\":\"monitor\","
      "\"name\":\"Caf\xC3\xA9 \\\"1\\\"\",\"extra\":\"1920x1080\"}]}}",
      R"({"request_id":"3","helper_status":{"ok":true,"status":"global-ptt-enabled","detail":"17 113"}})",
      R"({"request_id":"4","helper_status":{"ok":true,"status":"idle","detail":""}})",
      // Sent right after the last reply: printed before helperctl closes the pipe.
      R"({"request_id":"","helper_status":{"ok":true,"status":"ended","detail":""}})",
  };
  EXPECT_EQ(lines(outcome.output), expected);
}

TEST(helperctlProgram, RawBytesAndReadTalkFramesByHand) {
  // A hand-made ListCaptureSources frame for request "r3", then the next frame read back.
  const auto outcome = run_with_fake({"raw", "08 00 00 00 08 01 12 02 72 33 6A 00", "read"}, L"serve");
  EXPECT_EQ(outcome.exit_code, 5U) << outcome.error;
  const std::vector<std::string> expected = {
      kAuthenticated,
      "{\"request_id\":\"r3\",\"capture_source_list\":{\"sources\":[{\"id\":\"monitor:0\",\"kind\":\"monitor\","
      "\"name\":\"Caf\xC3\xA9 \\\"1\\\"\",\"extra\":\"1920x1080\"}]}}"};
  EXPECT_EQ(lines(outcome.output), expected);
}

TEST(helperctlProgram, AHelperThatDiesMidCommandEndsTheRunWithItsCode) {
  // The stand-in answers the first command with an event only and exits; `sources` is never sent.
  const auto outcome = run_with_fake({"caps", "sources"}, L"vanish");
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 4U) << outcome.error;
  EXPECT_EQ(outcome.error, "");
  const std::vector<std::string> expected = {
      kAuthenticated,
      R"({"request_id":"","broadcast_stats":{"frames_per_second":29.97,"bitrate_bps":2500000,)"
      R"("average_latency_ms":0,"dropped_frames":0,"encoder":"x264enc","profile_id":"","encoder_kind":"",)"
      R"("recovery_reason":""}})"};
  EXPECT_EQ(lines(outcome.output), expected);
}

TEST(helperctlProgram, WatchEndsWhenTheConnectionEnds) {
  // A watch of ten minutes ends as soon as the stand-in has gone; `caps` after it is never sent.
  const auto outcome = run_with_fake({"ptt", "on", "17", "watch", "600", "caps"}, L"report");
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 3U) << outcome.error;
  const std::vector<std::string> expected = {
      kAuthenticated, R"({"request_id":"1","helper_status":{"ok":true,"status":"reported","detail":""}})",
      R"({"request_id":"","global_ptt_event":{"pressed":true,"timestamp_unix_ms":1733600000123}})",
      R"({"request_id":"","global_ptt_event":{"pressed":false,"timestamp_unix_ms":1733600000456}})"};
  EXPECT_EQ(lines(outcome.output), expected);
}

TEST(helperctlProgram, AFrameThatDoesNotDecodeIsHelperctlsError) {
  const auto outcome = run_with_fake({"caps", "sources"}, L"garbage");
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 2U);
  EXPECT_EQ(lines(outcome.output), std::vector<std::string>{kAuthenticated});
  const auto error_lines = lines(outcome.error);
  ASSERT_EQ(error_lines.size(), 1U) << outcome.error;
  EXPECT_EQ(error_lines[0].rfind("helperctl: cannot read a frame from the helper: ", 0), 0U) << outcome.error;
}

TEST(helperctlProgram, TalksToTheRealHelper) {
  // Replies in order, each with its request ID; the helper exits with 0 once helperctl has gone.
  const auto outcome = run_helperctl({"caps", "sources", "stop"}, L"");
  EXPECT_EQ(outcome.exit_code, 0U) << outcome.error;
  EXPECT_EQ(outcome.error, "");
  const auto output = lines(outcome.output);
  ASSERT_EQ(output.size(), 4U) << outcome.output;
  EXPECT_EQ(output[0], kAuthenticated);
  EXPECT_EQ(output[1].rfind(R"({"request_id":"1","media_capabilities":{)", 0), 0U) << output[1];
  const bool sources_answered = output[2].rfind(R"({"request_id":"2","capture_source_list":{)", 0) == 0 ||
                                output[2].rfind(R"({"request_id":"2","helper_error":{)", 0) == 0;
  EXPECT_TRUE(sources_answered) << output[2];
  EXPECT_EQ(output[3], R"({"request_id":"3","helper_status":{"ok":true,"status":"idle","detail":""}})");
}

TEST(helperctlProgram, TheRealHelpersRefusalOfABadFrameComesThrough) {
  // A frame length of 0 makes the helper stop with one line on its standard error and exit code 1.
  const auto outcome = run_helperctl({"raw", "00 00 00 00", "read"}, L"");
  EXPECT_EQ(outcome.exit_code, 1U);
  EXPECT_EQ(lines(outcome.output).at(0), kAuthenticated);
  const auto error_lines = lines(outcome.error);
  ASSERT_EQ(error_lines.size(), 1U) << outcome.error;
  EXPECT_EQ(error_lines[0].rfind("corvane-media-helper: ", 0), 0U) << outcome.error;
}

}  // namespace
}  // namespace corvane::helperctl
