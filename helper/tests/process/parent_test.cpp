// The helper never outlives its parent, wherever it waits: a parent of ours (parent_stub.exe) starts
// it, sets a scene and then ends or cuts a frame short, while the test watches the helper.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "misbehaving_parent.h"

namespace corvane::testing {
namespace {

std::string error_line(const std::string& message) { return "corvane-media-helper: " + message + "\n"; }

// What a misbehaving parent left: the helper's exit code (nothing if it stayed behind), and the
// parent's outcome, whose standard error carries the helper's.
struct Ended {
  std::optional<DWORD> helper_exit;
  ChildOutcome parent;
};

Ended after_parent(const std::wstring& scenario) {
  MisbehavingParent parent(executable_directory() + L"corvane_media_helper.exe", scenario);
  if (!parent.ready()) {
    ADD_FAILURE() << "the parent did not set the scene";
    return {};
  }
  parent.go();
  const std::optional<DWORD> helper_exit = parent.helper_exit_code();
  return {helper_exit, parent.finish()};
}

TEST(HelperParentGone, AParentEndingBeforeItConnectedEndsTheWait) {
  const Ended ended = after_parent(L"exit-before-connect");
  EXPECT_EQ(ended.helper_exit, 1u);
  EXPECT_EQ(ended.parent.exit_code, 0u);
  EXPECT_EQ(ended.parent.standard_error, error_line("accept named-pipe client: parent process ended"));
}

TEST(HelperParentGone, AParentEndingInsideAFrameWhileTheChordsAreWatchedEndsTheHelperCleanly) {
  const Ended ended = after_parent(L"half-frame");
  EXPECT_EQ(ended.helper_exit, 0u);
  EXPECT_EQ(ended.parent.exit_code, 0u);
  EXPECT_EQ(ended.parent.standard_error, "");
}

TEST(HelperParentGone, AClientClosingInsideAFrameWhileItsParentLivesOnIsAFailedRead) {
  const Ended ended = after_parent(L"close-mid-frame");
  EXPECT_EQ(ended.helper_exit, 1u);
  EXPECT_EQ(ended.parent.exit_code, 0u) << "the parent was still there when the helper ended";
  EXPECT_EQ(ended.parent.standard_error, error_line("read helper command: failed to fill whole buffer"));
}

TEST(HelperParentGone, AShutdownDoesNotWaitForeverForAReplyNobodyReads) {
  // The parent leaves a reply unread and ends; a process it started keeps the client end open.
  const Ended ended = after_parent(L"unread-reply");
  EXPECT_EQ(ended.helper_exit, 0u);
  EXPECT_EQ(ended.parent.standard_error, "");
}

}  // namespace
}  // namespace corvane::testing
