// The helper's crash handler in crashing_program.exe, which installs it as the helper does: the line,
// the exit code and the dump a crash leaves, the folder's limit, and the line when no dump can be
// written. Each test gives the program a LOCALAPPDATA of its own.
#include <windows.h>

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "crash_report.h"
#include "minidump_file.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kRaisedCode = 0xE0000042;         // what the program's second thread raises
constexpr std::uint32_t kMinidumpSignature = 0x504D444D;  // "MDMP" read as a little-endian number

// What one run of the program left.
struct Crash {
  ChildOutcome outcome;
  DWORD pid = 0;
  SYSTEMTIME before{};
  SYSTEMTIME after{};
  // The thread ID the program wrote before it crashed, or 0.
  DWORD thread_id() const {
    const std::string prefix = "thread ";
    return outcome.standard_output.starts_with(prefix)
               ? static_cast<DWORD>(std::stoul(outcome.standard_output.substr(prefix.size())))
               : 0;
  }
};

Crash run_program(const wchar_t* mode) {
  Crash crash;
  GetSystemTime(&crash.before);
  ChildProcess program(L"crashing_program.exe", {mode});
  EXPECT_TRUE(program.started()) << program.start_error();
  crash.pid = program.pid();
  crash.outcome = program.wait();
  GetSystemTime(&crash.after);
  return crash;
}

// The program ended through the handler: exit code 1 and exactly one crash line with `code`.
CrashLine expect_crash_line(const Crash& crash, std::uint32_t code) {
  EXPECT_TRUE(crash.outcome.finished) << "the program did not end";
  EXPECT_EQ(crash.outcome.exit_code, 1u);
  const auto line = parse_crash_line(crash.outcome.standard_error);
  EXPECT_TRUE(line) << "standard error: " << crash.outcome.standard_error;
  if (!line) {
    return {};
  }
  EXPECT_EQ(line->code, code);
  return *line;
}

// The dump the line names: in `folder`, named for the program's process and the time of the crash.
MinidumpFile expect_dump(const Crash& crash, const CrashLine& line, const fs::path& folder) {
  const auto path = line.dump_path();
  EXPECT_TRUE(path) << "no dump in: " << line.rest;
  if (!path) {
    return {};
  }
  EXPECT_EQ(path->parent_path(), folder);
  EXPECT_TRUE(is_dump_name_of(path->filename(), crash.pid, crash.before, crash.after)) << path->string();
  auto dump = read_minidump(path->wstring());
  EXPECT_TRUE(dump) << (dump ? "" : dump.error());
  if (!dump) {
    return {};
  }
  EXPECT_EQ(dump->signature, kMinidumpSignature);
  EXPECT_EQ(dump->version, MINIDUMP_VERSION);
  EXPECT_TRUE(dump->has_stream(SystemInfoStream));
  EXPECT_EQ(dump->exception_code, line.code);
  EXPECT_EQ(dump->exception_address, line.address);
  EXPECT_EQ(dump->exception_thread_id, crash.thread_id());
  EXPECT_NE(crash.thread_id(), 0u) << "the program wrote no thread ID: " << crash.outcome.standard_output;
  EXPECT_NE(std::find(dump->thread_ids.begin(), dump->thread_ids.end(), crash.thread_id()), dump->thread_ids.end())
      << "the crashing thread is not in the thread list";
  return std::move(dump).value();
}

std::set<fs::path> files_in(const fs::path& folder) {
  std::set<fs::path> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename());
  }
  return names;
}

void write_file(const fs::path& path, fs::file_time_type written) {
  std::ofstream(path) << "x";
  fs::last_write_time(path, written);
}

class CrashHandler : public ::testing::Test {
 protected:
  LocalAppDataFolder local_;
};

// ---- a crash ----

TEST_F(CrashHandler, NothingIsWrittenWhileNothingCrashes) {
  const Crash run = run_program(L"none");
  EXPECT_EQ(run.outcome.exit_code, 0u);
  EXPECT_EQ(run.outcome.standard_error, "");
  EXPECT_FALSE(fs::exists(local_.path() / "Corvane"));
}

TEST_F(CrashHandler, ACrashOnTheMainThreadEndsWithOneLineExitCodeOneAndADump) {
  const Crash crash = run_program(L"main");
  const CrashLine line = expect_crash_line(crash, kAccessViolation);
  const MinidumpFile dump = expect_dump(crash, line, local_.crash_folder());
  const MinidumpModule* module = dump.module_holding(line.address);
  ASSERT_NE(module, nullptr) << "the faulting address is in no module of the dump";
  EXPECT_TRUE(module->name.ends_with(L"crashing_program.exe")) << fs::path(module->name).string();
}

TEST_F(CrashHandler, ACrashOnASecondThreadEndsTheProcessAsOnTheMainThread) {
  // LOCALAPPDATA with a trailing separator: the line names the dump without a doubled one.
  const ScopedVariable trailing(L"LOCALAPPDATA", local_.path().wstring() + L"\\");
  const Crash crash = run_program(L"thread");
  const CrashLine line = expect_crash_line(crash, kRaisedCode);
  EXPECT_TRUE(line.rest.starts_with("; crash dump: " + local_.crash_folder().string() + "\\corvane_media_helper-"))
      << line.rest;
  const MinidumpFile dump = expect_dump(crash, line, local_.crash_folder());
  EXPECT_NE(dump.module_holding(line.address), nullptr) << "the raising address is in no module of the dump";
  EXPECT_GE(dump.thread_ids.size(), 3u) << "the main, the crashing and the writing thread";
}

// ---- the folder keeps the newest ten ----

TEST_F(CrashHandler, ElevenCrashesInARowLeaveTheNewestTenDumpsAndNothingElseIsTouched) {
  fs::create_directories(local_.crash_folder());
  const auto long_ago = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  write_file(local_.crash_folder() / "notes.txt", long_ago);
  write_file(local_.crash_folder() / "another_program-20200101T000000Z-1.dmp", long_ago);
  fs::create_directory(local_.crash_folder() / "corvane_media_helper-20200101T000000Z-2.dmp");
  std::vector<fs::path> dumps;
  for (int i = 0; i < 11; ++i) {
    const Crash crash = run_program(L"main");
    const auto path = expect_crash_line(crash, kAccessViolation).dump_path();
    ASSERT_TRUE(path) << crash.outcome.standard_error;
    dumps.push_back(path->filename());
  }
  std::set<fs::path> expected(dumps.begin() + 1, dumps.end());
  expected.insert(
      {"notes.txt", "another_program-20200101T000000Z-1.dmp", "corvane_media_helper-20200101T000000Z-2.dmp"});
  EXPECT_EQ(files_in(local_.crash_folder()), expected);
}

TEST_F(CrashHandler, TheDumpWrittenLongestAgoGoesFirstWhateverItsName) {
  // Ten earlier dumps whose names sort against their age: the one written longest ago has the name
  // that sorts last. (Of two written at the same time the first by name goes; a folder lists its
  // files by name under Wine as on NTFS, so that order cannot be told from the listing's here.)
  fs::create_directories(local_.crash_folder());
  const auto now = fs::file_time_type::clock::now();
  std::set<fs::path> earlier;
  for (int i = 0; i < 10; ++i) {
    const fs::path name = "corvane_media_helper-20990101T000000Z-" + std::to_string(100 + i) + ".dmp";
    write_file(local_.crash_folder() / name, now - std::chrono::hours(24 * (10 + i)));
    earlier.insert(name);
  }
  const Crash crash = run_program(L"main");
  const auto path = expect_crash_line(crash, kAccessViolation).dump_path();
  ASSERT_TRUE(path) << crash.outcome.standard_error;
  std::set<fs::path> expected = earlier;
  expected.erase("corvane_media_helper-20990101T000000Z-109.dmp");
  expected.insert(path->filename());
  EXPECT_EQ(files_in(local_.crash_folder()), expected);
}

// ---- no dump, the same end ----

struct NoDumpCase {
  const char* name;
  // Prepares LOCALAPPDATA under `local`; returns the line's expected text after the address, as a
  // pattern. A pattern ending in kSystemError is followed by "<the system's message> (os error N)".
  std::string (*prepare)(const fs::path& local, std::optional<ScopedVariable>& variable);
};

void PrintTo(const NoDumpCase& no_dump, std::ostream* out) { *out << no_dump.name; }

constexpr const char* kSystemError = R"(: (.*) \(os error ([0-9]+)\))";

std::string escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// The system's message for `code` as the helper's errors give it (no trailing line break or space).
std::string system_message(DWORD code) {
  wchar_t text[512];
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512, nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) {
    --length;
  }
  return fs::path(std::wstring(text, length)).string();
}

const NoDumpCase kNoDumpCases[] = {
    {"TheCrashFolderIsAFile",
     [](const fs::path& local, std::optional<ScopedVariable>&) {
       fs::create_directories(local / "Corvane");
       std::ofstream(local / "Corvane" / "crashes") << "x";
       return "; no crash dump was written: " + escaped((local / "Corvane" / "crashes").string()) +
              R"(\\corvane_media_helper-[0-9]{8}T[0-9]{6}Z-[0-9]+\.dmp could not be written)" + kSystemError;
     }},
    {"LocalAppDataIsAFile",
     [](const fs::path& local, std::optional<ScopedVariable>& variable) {
       std::ofstream(local / "file") << "x";
       variable.emplace(L"LOCALAPPDATA", (local / "file").wstring());
       return "; no crash dump was written: the crash folder " +
              escaped((local / "file" / "Corvane" / "crashes").string()) + " could not be created" + kSystemError;
     }},
    {"LocalAppDataHoldsALineBreak",
     [](const fs::path& local, std::optional<ScopedVariable>& variable) {
       variable.emplace(L"LOCALAPPDATA", local.wstring() + L"\\a\r\nb");
       return "; no crash dump was written: the crash folder " + escaped(local.string()) +
              R"(\\a  b\\Corvane\\crashes could not be created)" + kSystemError;
     }},
    {"LocalAppDataIsNotSet",
     [](const fs::path&, std::optional<ScopedVariable>& variable) {
       variable.emplace(L"LOCALAPPDATA", std::nullopt);
       return std::string("; no crash dump was written: LOCALAPPDATA is not set");
     }},
    {"LocalAppDataIsTooLong",
     [](const fs::path& local, std::optional<ScopedVariable>& variable) {
       variable.emplace(L"LOCALAPPDATA", local.wstring() + L"\\" + std::wstring(1100, L'a'));
       return std::string("; no crash dump was written: the path in LOCALAPPDATA is too long");
     }},
};

class CrashWithoutDump : public ::testing::TestWithParam<NoDumpCase> {
 protected:
  LocalAppDataFolder local_;
};

std::set<fs::path> tree_of(const fs::path& folder) {
  std::set<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    paths.insert(entry.path());
  }
  return paths;
}

TEST_P(CrashWithoutDump, StillEndsWithOneLineSayingWhyAndExitCodeOne) {
  std::optional<ScopedVariable> variable;
  const std::string expected = GetParam().prepare(local_.path(), variable);
  const std::set<fs::path> before = tree_of(local_.path());
  const Crash crash = run_program(L"main");
  const CrashLine line = expect_crash_line(crash, kAccessViolation);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(line.rest, match, std::regex(expected))) << line.rest << "\n  expected: " << expected;
  if (expected.ends_with(kSystemError)) {
    const auto code = static_cast<DWORD>(std::stoul(match[match.size() - 1].str()));
    EXPECT_NE(code, 0u);
    EXPECT_EQ(match[match.size() - 2].str(), system_message(code));
  }
  EXPECT_EQ(tree_of(local_.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Folders, CrashWithoutDump, ::testing::ValuesIn(kNoDumpCases),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace corvane::testing
