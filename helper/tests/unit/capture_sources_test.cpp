#include "windows/capture/capture_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::helper {
namespace {

using protocol::CaptureSource;

CaptureSource monitor(const std::string& id, const std::string& name) { return {id, "monitor", name, ""}; }

CaptureSource window(const std::string& id, const std::string& name, const std::string& extra = "") {
  return {id, "window", name, extra};
}

std::vector<std::string> ids_after_ordering(std::vector<CaptureSource> list) {
  order_capture_sources(list);
  std::vector<std::string> ids;
  for (const auto& source : list) {
    ids.push_back(source.id);
  }
  return ids;
}

using Ids = std::vector<std::string>;

TEST(CaptureSourceNames, MonitorNameShowsDeviceSizeAndPrimary) {
  // "\\.\DISPLAY1 · 2560×1440 · primary" with U+00B7 MIDDLE DOT and U+00D7 MULTIPLICATION SIGN.
  EXPECT_EQ(monitor_name("\\\\.\\DISPLAY1", 2560, 1440, true),
            "\\\\.\\DISPLAY1 \xC2\xB7 2560\xC3\x97"
            "1440 \xC2\xB7 primary");
  EXPECT_EQ(monitor_name("\\\\.\\DISPLAY2", 1920, 1080, false),
            "\\\\.\\DISPLAY2 \xC2\xB7 1920\xC3\x97"
            "1080");
  EXPECT_EQ(monitor_name("\\\\.\\DISPLAY3", -1280, -1024, false), "\\\\.\\DISPLAY3 \xC2\xB7 -1280\xC3\x97-1024");
  EXPECT_EQ(monitor_name("Écran", 0, 0, true), "Écran · 0×0 · primary");
}

TEST(CaptureSourceNames, HandleTextIsUnsignedDecimal) {
  EXPECT_EQ(handle_text(0), "0");
  EXPECT_EQ(handle_text(65552), "65552");
  EXPECT_EQ(handle_text(0xFFFFFFFFFFFFFFFFull), "18446744073709551615");
  EXPECT_EQ(handle_text(0x8000000000000000ull), "9223372036854775808");  // no minus sign
}

TEST(CaptureSourceOrder, LeadingMonitorsKeepTheirOrder) {
  EXPECT_EQ(ids_after_ordering({monitor("monitor:2", "Zeta"), monitor("monitor:1", "alpha"), window("window:1", "b"),
                                window("window:2", "A")}),
            (Ids{"monitor:2", "monitor:1", "window:2", "window:1"}));
  EXPECT_EQ(ids_after_ordering({monitor("monitor:3", "c"), monitor("monitor:1", "a")}),
            (Ids{"monitor:3", "monitor:1"}));
  EXPECT_EQ(ids_after_ordering({}), Ids{});
}

TEST(CaptureSourceOrder, EntriesAfterTheMonitorsAreSortedByLowerCaseName) {
  EXPECT_EQ(ids_after_ordering({window("window:1", "beta"), window("window:2", "Alpha"), window("window:3", "alpha")}),
            (Ids{"window:2", "window:3", "window:1"}));  // equal keys keep their order
  EXPECT_EQ(ids_after_ordering({window("window:3", "alpha"), window("window:2", "ALPHA"), window("window:1", "Beta")}),
            (Ids{"window:3", "window:2", "window:1"}));
  // Enough equal keys for a sort that is not stable to reorder them.
  std::vector<CaptureSource> many;
  Ids expected_first;
  Ids expected_second;
  for (int i = 0; i < 40; ++i) {
    const std::string id = "window:" + std::to_string(i);
    const bool first = i % 3 != 0;
    many.push_back(window(id, first ? (i % 2 == 0 ? "Same" : "same") : "Zz"));
    (first ? expected_first : expected_second).push_back(id);
  }
  expected_first.insert(expected_first.end(), expected_second.begin(), expected_second.end());
  EXPECT_EQ(ids_after_ordering(many), expected_first);
  // The whole entry moves with its key.
  std::vector<CaptureSource> list{window("window:1", "b", "one"), window("window:2", "a", "two")};
  order_capture_sources(list);
  EXPECT_EQ(list, (std::vector<CaptureSource>{window("window:2", "a", "two"), window("window:1", "b", "one")}));
}

TEST(CaptureSourceOrder, AMonitorAfterAWindowIsSortedWithTheWindows) {
  EXPECT_EQ(ids_after_ordering({monitor("monitor:1", "z"), window("window:1", "c"), monitor("monitor:2", "b"),
                                window("window:2", "a")}),
            (Ids{"monitor:1", "window:2", "monitor:2", "window:1"}));
  // Only the kind "monitor" exactly makes the leading run.
  EXPECT_EQ(ids_after_ordering({{"monitor:1", "Monitor", "b", ""}, {"monitor:2", "monitor", "a", ""}}),
            (Ids{"monitor:2", "monitor:1"}));
}

TEST(CaptureSourceOrder, KeysCompareAsUtf8Bytes) {
  // "é" is 0xC3 0xA9: after every ASCII letter, which a signed char comparison would get wrong.
  EXPECT_EQ(ids_after_ordering({window("window:1", "été"), window("window:2", "zoo"), window("window:3", "Été")}),
            (Ids{"window:2", "window:1", "window:3"}));
  // Full lower case: "İa" becomes "i" U+0307 "a", whose second byte 0xCC sorts after "b".
  EXPECT_EQ(ids_after_ordering({window("window:1", "İa"), window("window:2", "ib")}), (Ids{"window:2", "window:1"}));
  // Final sigma: "ΑΣ" becomes "ας" (U+03C2, 0xCF 0x82), before "ασ" (U+03C3, 0xCF 0x83).
  EXPECT_EQ(ids_after_ordering({window("window:1", "ασ"), window("window:2", "ΑΣ")}), (Ids{"window:2", "window:1"}));
}

TEST(CaptureSourceOrder, AdjacentDuplicateIdsAreRemoved) {
  // After sorting, both "window:1" entries are next to each other; the first one stays.
  std::vector<CaptureSource> list{window("window:1", "b", "first"), window("window:2", "c"),
                                  window("window:1", "B", "second")};
  order_capture_sources(list);
  EXPECT_EQ(list, (std::vector<CaptureSource>{window("window:1", "b", "first"), window("window:2", "c")}));
  // Not next to each other after sorting: both stay.
  EXPECT_EQ(ids_after_ordering({window("window:1", "a"), window("window:2", "b"), window("window:1", "c")}),
            (Ids{"window:1", "window:2", "window:1"}));
  // In the leading monitors too.
  EXPECT_EQ(ids_after_ordering({monitor("monitor:1", "x"), monitor("monitor:1", "y"), monitor("monitor:2", "z")}),
            (Ids{"monitor:1", "monitor:2"}));
}

std::string error_of(std::string_view id) {
  const auto result = capture_target_fragment(id);
  return result ? "(accepted)" : result.error();
}

TEST(CaptureSourceId, AcceptedIdentifiers) {
  const auto window_target = parse_capture_source_id("window:123");
  ASSERT_TRUE(window_target) << window_target.error();
  EXPECT_EQ(*window_target, (CaptureTarget{true, 123}));
  const auto plus = parse_capture_source_id("window:+123");
  ASSERT_TRUE(plus) << plus.error();
  EXPECT_EQ(*plus, (CaptureTarget{true, 123}));
  const auto largest = parse_capture_source_id("monitor:18446744073709551615");
  ASSERT_TRUE(largest) << largest.error();
  EXPECT_EQ(*largest, (CaptureTarget{false, 0xFFFFFFFFFFFFFFFFull}));
  const auto zeros = parse_capture_source_id("monitor:007");
  ASSERT_TRUE(zeros) << zeros.error();
  EXPECT_EQ(*zeros, (CaptureTarget{false, 7}));
}

TEST(CaptureSourceId, FragmentNamesTheCaptureTarget) {
  const auto window_fragment = capture_target_fragment("window:123");
  ASSERT_TRUE(window_fragment) << window_fragment.error();
  EXPECT_EQ(*window_fragment, "window-handle=123 window-capture-mode=client");
  const auto plus = capture_target_fragment("window:+0123");
  ASSERT_TRUE(plus) << plus.error();
  EXPECT_EQ(*plus, "window-handle=123 window-capture-mode=client");
  const auto zeros = capture_target_fragment("monitor:007");
  ASSERT_TRUE(zeros) << zeros.error();
  EXPECT_EQ(*zeros, "monitor-handle=7");
  const auto largest = capture_target_fragment("monitor:18446744073709551615");
  ASSERT_TRUE(largest) << largest.error();
  EXPECT_EQ(*largest, "monitor-handle=18446744073709551615");
}

TEST(CaptureSourceId, HandleMustBeAnUnsigned64BitNumber) {
  for (const char* id : {"window:", "window:-1", "window:12a", "window:+", "window:++1", "window:+-1", "window: 1",
                         "window:1 ", "window:0x10", "window:1:2", "monitor:18446744073709551616",
                         "monitor:99999999999999999999", "monitor:\xD9\xA1"}) {
    EXPECT_EQ(error_of(id), "capture source handle is invalid") << id;
  }
}

TEST(CaptureSourceId, KindMustBeWindowOrMonitor) {
  for (const char* id : {"display:5", ":5", "Window:5", "MONITOR:5", "windows:5", " window:5"}) {
    EXPECT_EQ(error_of(id), "capture source kind is invalid") << id;
  }
}

TEST(CaptureSourceId, ErrorsAreCheckedInOrder) {
  EXPECT_EQ(error_of("window123"), "capture source ID is invalid");
  EXPECT_EQ(error_of(""), "capture source ID is invalid");
  EXPECT_EQ(error_of("display"), "capture source ID is invalid");
  // The handle is checked before the kind.
  EXPECT_EQ(error_of("display:x"), "capture source handle is invalid");
  EXPECT_EQ(error_of(":"), "capture source handle is invalid");
  // parse_capture_source_id fails the same way.
  const auto parsed = parse_capture_source_id("display:x");
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error(), "capture source handle is invalid");
}

}  // namespace
}  // namespace corvane::helper
