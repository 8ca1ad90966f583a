// The helper never outlives its parent, wherever it waits: a parent of ours (parent_stub.exe) starts
// it, sets a scene and then ends or cuts a frame short, while the test watches the helper.
#include <gtest/gtest.h>

#include <string>

#include "misbehaving_parent.h"

namespace corvane::testing {
namespace {

const std::wstring kHelper = executable_directory() + L"corvane_media_helper.exe";

std::string error_line(const std::string& message) { return "corvane-media-helper: " + message + "\n"; }

TEST(HelperParentGone, AParentEndingBeforeItConnectedEndsTheWait) {
  MisbehavingParent parent(kHelper, L"exit-before-connect");
  ASSERT_TRUE(parent.ready());
  parent.go();
  EXPECT_EQ(parent.helper_exit_code(), 1u);
  const ChildOutcome outcome = parent.finish();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.standard_error, error_line("accept named-pipe client: parent process ended"));
}

TEST(HelperParentGone, AParentEndingInsideAFrameWhileTheChordsAreWatchedEndsTheHelperCleanly) {
  MisbehavingParent parent(kHelper, L"half-frame");
  ASSERT_TRUE(parent.ready());
  parent.go();
  EXPECT_EQ(parent.helper_exit_code(), 0u);
  const ChildOutcome outcome = parent.finish();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.standard_error, "");
}

TEST(HelperParentGone, AClientClosingInsideAFrameWhileItsParentLivesOnIsAFailedRead) {
  MisbehavingParent parent(kHelper, L"close-mid-frame");
  ASSERT_TRUE(parent.ready());
  parent.go();
  EXPECT_EQ(parent.helper_exit_code(), 1u);
  const ChildOutcome outcome = parent.finish();
  EXPECT_EQ(outcome.exit_code, 0u) << "the parent was still there when the helper ended";
  EXPECT_EQ(outcome.standard_error, error_line("read helper command: failed to fill whole buffer"));
}

TEST(HelperParentGone, AShutdownDoesNotWaitForeverForAReplyNobodyReads) {
  // The parent leaves a reply unread and ends; a process it started keeps the client end open.
  MisbehavingParent parent(kHelper, L"unread-reply");
  ASSERT_TRUE(parent.ready());
  parent.go();
  EXPECT_EQ(parent.helper_exit_code(), 0u);
  const ChildOutcome outcome = parent.finish();
  EXPECT_EQ(outcome.standard_error, "");
}

}  // namespace
}  // namespace corvane::testing
