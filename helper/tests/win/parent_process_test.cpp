// The handle to the parent: taken only from a running process that is not younger than the helper.
#include <windows.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "main/pipe_server.h"

namespace corvane::helper {
namespace {

using corvane::testing::ChildProcess;

TEST(ParentProcess, AProcessAsOldAsTheCallerIsTakenAndWaitable) {
  auto process = open_parent_process(GetCurrentProcessId());
  ASSERT_TRUE(process) << process.error();
  EXPECT_EQ(WaitForSingleObject(process->get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ParentProcess, AYoungerProcessHoldsAReusedIdAndAnEndedOneIsNotFound) {
  // pipe_client_stub waits up to a minute for a pipe that never comes: alive while the test needs it.
  ChildProcess younger(L"pipe_client_stub.exe", {L"00000000-0000-0000-0000-000000000000"});
  ASSERT_TRUE(younger.started()) << younger.start_error();
  auto refused = open_parent_process(younger.pid());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "declared parent process does not own the helper");

  ChildProcess ended(L"pipe_client_stub.exe", {});  // a wrong command line: it exits at once
  ASSERT_TRUE(ended.started()) << ended.start_error();
  ASSERT_EQ(WaitForSingleObject(ended.handle(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  auto gone = open_parent_process(ended.pid());  // its ID is not reused while the handle is open
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error(), "inspect parent process: parent process not found");
}

}  // namespace
}  // namespace corvane::helper
