// ListCaptureSources through the real helper, with real windows of another process under X.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "helper_connection.h"
#include "test_windows.h"

namespace corvane::testing {
namespace {

using protocol::CaptureSource;

std::vector<CaptureSource> list_sources(HelperConnection& connection) {
  const auto reply = connection.request(protocol::reply("sources", protocol::ListCaptureSources{}));
  if (!reply) {
    ADD_FAILURE() << "no reply";
    return {};
  }
  const auto* list = std::get_if<protocol::CaptureSourceList>(&reply->payload);
  if (list == nullptr) {
    const auto* error = std::get_if<protocol::HelperError>(&reply->payload);
    ADD_FAILURE() << "not a list: " << (error ? error->code + " " + error->message : "?");
    return {};
  }
  return list->sources;
}

const CaptureSource* find_id(const std::vector<CaptureSource>& list, const std::string& id) {
  const auto found = std::find_if(list.begin(), list.end(), [&](const CaptureSource& s) { return s.id == id; });
  return found == list.end() ? nullptr : &*found;
}

std::ptrdiff_t position(const std::vector<CaptureSource>& list, const std::string& id) {
  const auto found = std::find_if(list.begin(), list.end(), [&](const CaptureSource& s) { return s.id == id; });
  return found == list.end() ? -1 : found - list.begin();
}

// The system's own enumeration order of two windows.
bool enumerated_before(std::uint64_t first, std::uint64_t second) {
  struct Search {
    HWND first;
    HWND second;
    int seen_first_at = -1;
    int seen_second_at = -1;
    int index = 0;
  } search{reinterpret_cast<HWND>(first), reinterpret_cast<HWND>(second)};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        if (window == s.first) s.seen_first_at = s.index;
        if (window == s.second) s.seen_second_at = s.index;
        ++s.index;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.seen_first_at < search.seen_second_at;
}

class CaptureSourcesOverThePipe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(connection_.connect_and_authenticate()); }
  void TearDown() override {
    const ChildOutcome outcome = connection_.finish();
    EXPECT_EQ(outcome.exit_code, 0u);
    EXPECT_EQ(outcome.standard_error, "");
  }
  HelperConnection connection_;
};

TEST_F(CaptureSourcesOverThePipe, MonitorsComeFirstWithTheirLabels) {
  const auto list = list_sources(connection_);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].kind, "monitor");
  // The test X server has one 1920×1080 screen.
  EXPECT_EQ(list[0].name,
            "\\\\.\\DISPLAY1 \xC2\xB7 1920\xC3\x97"
            "1080 \xC2\xB7 primary");
  EXPECT_EQ(list[0].id.rfind("monitor:", 0), 0u);
  EXPECT_EQ(list[0].extra, "");
}

TEST_F(CaptureSourcesOverThePipe, OnlyVisibleTitledWindowsAreListedWithTrimmedTitles) {
  const std::string tag = random_tag();
  const std::string long_title = tag + std::string(1024 - tag.size(), 'x');
  const std::string too_long = tag + std::string(1025 - tag.size(), 'y');
  TestWindows windows(
      {"  Editor " + tag + " \t", " \t \xE3\x80\x80 ", "hidden:hidden " + tag, long_title, too_long, ""});
  ASSERT_TRUE(windows.ready()) << windows.failure();
  const auto list = list_sources(connection_);
  const CaptureSource* editor = find_id(list, windows.id(0));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->name, "Editor " + tag);
  EXPECT_EQ(editor->kind, "window");
  EXPECT_EQ(find_id(list, windows.id(1)), nullptr) << "a title of white space only";
  EXPECT_EQ(find_id(list, windows.id(2)), nullptr) << "a hidden window";
  const CaptureSource* longest = find_id(list, windows.id(3));
  ASSERT_NE(longest, nullptr) << "a 1024-unit title";
  EXPECT_EQ(longest->name, long_title);
  EXPECT_EQ(find_id(list, windows.id(4)), nullptr) << "a 1025-unit title";
  EXPECT_EQ(find_id(list, windows.id(5)), nullptr) << "no title";
}

TEST_F(CaptureSourcesOverThePipe, WindowsAreSortedByTheirLowerCaseNames) {
  const std::string tag = random_tag();
  // Σ at the end of a word lowers to ς (CF 82), which sorts before σ (CF 83).
  TestWindows windows({"beta " + tag, "Alpha " + tag, "alpha " + tag, "\xCE\x91\xCE\xA3 " + tag,
                       "\xCE\xB1\xCF\x83 " + tag, "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85 " + tag});
  ASSERT_TRUE(windows.ready()) << windows.failure();
  const auto list = list_sources(connection_);
  std::vector<std::ptrdiff_t> at;
  for (std::size_t i = 0; i < 6; ++i) {
    at.push_back(position(list, windows.id(i)));
    ASSERT_GE(at.back(), 0) << i;
  }
  const bool capital_first = enumerated_before(windows.handles()[1], windows.handles()[2]);
  const auto first_alpha = capital_first ? at[1] : at[2];
  const auto second_alpha = capital_first ? at[2] : at[1];
  EXPECT_LT(first_alpha, second_alpha) << "equal keys keep the system's order";
  EXPECT_LT(second_alpha, at[0]);  // alpha < beta
  EXPECT_LT(at[0], at[3]);         // beta < ας (Latin before Greek)
  EXPECT_LT(at[3], at[4]);         // ας < ασ
  EXPECT_LT(at[4], at[5]);         // Greek before Arabic script
  std::size_t monitors = 0;
  while (monitors < list.size() && list[monitors].kind == "monitor") {
    ++monitors;
  }
  EXPECT_GE(monitors, 1u);
  for (std::size_t i = monitors; i < list.size(); ++i) {
    EXPECT_EQ(list[i].kind, "window");
  }
}

TEST_F(CaptureSourcesOverThePipe, ThreeHundredWindowsAreCappedAtTwoHundredFiftySixEntries) {
  const std::string tag = random_tag();
  std::vector<std::string> titles;
  for (int i = 0; i < 300; ++i) {
    titles.push_back(tag + " " + std::to_string(1000 + i));
  }
  TestWindows windows(titles);
  ASSERT_TRUE(windows.ready()) << windows.failure();
  const auto list = list_sources(connection_);
  EXPECT_EQ(list.size(), 256u);
  std::map<std::string, int> ids;
  for (const auto& source : list) {
    EXPECT_EQ(++ids[source.id], 1) << "duplicate " << source.id;
  }
}

}  // namespace
}  // namespace corvane::testing
