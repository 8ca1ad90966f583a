// The real helper crashing while it serves its parent: a thread of the helper faults, as a plug-in's
// would, and the helper ends as every fatal error ends it, leaving a dump.
#include <gtest/gtest.h>

#include <algorithm>

#include "crash_report.h"
#include "helper_connection.h"
#include "minidump_file.h"

namespace corvane::testing {
namespace {

// An address that holds no code: a thread started there faults on its first instruction.
constexpr std::uintptr_t kNoCode = 0x10;

TEST(HelperCrash, AThreadFaultingInTheServingHelperEndsItWithOneLineExitCodeOneAndADump) {
  const LocalAppDataFolder local;
  SYSTEMTIME before{};
  GetSystemTime(&before);
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());

  DWORD thread_id = 0;
  HANDLE thread = CreateRemoteThread(connection.helper().handle(), nullptr, 0,
                                     reinterpret_cast<LPTHREAD_START_ROUTINE>(kNoCode), nullptr, 0, &thread_id);
  ASSERT_NE(thread, nullptr) << GetLastError();
  CloseHandle(thread);
  const ChildOutcome outcome = connection.helper().wait();
  SYSTEMTIME after{};
  GetSystemTime(&after);

  ASSERT_TRUE(outcome.finished) << "the helper did not end";
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.standard_output, "");
  const auto line = parse_crash_line(outcome.standard_error);
  ASSERT_TRUE(line) << outcome.standard_error;
  EXPECT_EQ(line->code, 0xC0000005u);
  EXPECT_EQ(line->address, kNoCode);
  const auto path = line->dump_path();
  ASSERT_TRUE(path) << line->rest;
  EXPECT_EQ(path->parent_path(), local.crash_folder());
  EXPECT_TRUE(is_dump_name_of(path->filename(), connection.helper().pid(), before, after)) << path->string();
  const auto dump = read_minidump(path->wstring());
  ASSERT_TRUE(dump) << dump.error();
  EXPECT_EQ(dump->exception_thread_id, thread_id);
  EXPECT_NE(std::find(dump->thread_ids.begin(), dump->thread_ids.end(), thread_id), dump->thread_ids.end());
  EXPECT_NE(
      std::find_if(dump->modules.begin(), dump->modules.end(),
                   [](const MinidumpModule& module) { return module.name.ends_with(L"corvane_media_helper.exe"); }),
      dump->modules.end());
}

}  // namespace
}  // namespace corvane::testing
