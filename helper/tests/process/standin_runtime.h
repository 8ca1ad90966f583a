#pragma once
// Test fixture: a copy of the helper with the stand-in GStreamer runtime beside it, in a directory of
// its own, scripted by the test and recording every runtime call.

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace corvane::testing {

class HelperWithStandInRuntime : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces the runtime's script with `lines`.
  void write_script(std::initializer_list<const char*> lines);
  void write_script(const std::vector<std::string>& lines);
  // The helper copy to start.
  std::wstring helper_path() const { return (root_ / "corvane_media_helper.exe").wstring(); }
  // The runtime calls recorded so far, one per line.
  std::vector<std::string> recorded_calls() const;

  std::filesystem::path root_;
  std::filesystem::path script_;
  std::filesystem::path record_;
};

}  // namespace corvane::testing
