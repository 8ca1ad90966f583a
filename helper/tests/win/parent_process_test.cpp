// The handle to the parent: taken only from a running process that is not younger than the helper; and
// the wait for the parent as the pipe's client.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "helper_connection.h"
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
  auto never = open_parent_process(0xFFFFFFF0u);  // no process has this ID
  ASSERT_FALSE(never);
  EXPECT_EQ(never.error(), "inspect parent process: parent process not found");
}

TEST(PipeAccept, AClientThatCameWroteAndLeftBeforeTheWaitIsAcceptedWithWhatItWrote) {
  const auto secrets = corvane::testing::fresh_secrets();
  auto pipe = create_restricted_pipe(std::string(secrets.pipe_id.begin(), secrets.pipe_id.end()));
  ASSERT_TRUE(pipe) << pipe.error();
  const std::wstring name = corvane::testing::pipe_name_for(secrets.pipe_id);
  HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(client, "hello", 5, &written, nullptr));
  CloseHandle(client);
  auto self = open_parent_process(GetCurrentProcessId());
  ASSERT_TRUE(self) << self.error();
  const VerifiedParent parent{GetCurrentProcessId(), std::move(self).value()};
  auto accepted = accept_parent_client(std::move(pipe).value(), parent);
  ASSERT_TRUE(accepted) << accepted.error();
  char buffer[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(accepted->get(), buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "hello");
}

}  // namespace
}  // namespace corvane::helper
