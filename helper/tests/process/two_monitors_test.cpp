// Two monitors (an X server with two heads side by side): names, order and the primary suffix.
// Runs only where scripts/test provides that server (CORVANE_TWO_MONITORS=1); skipped elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>

#include "helper_connection.h"

namespace corvane::testing {
namespace {

TEST(TwoMonitors, MonitorsComeFirstInTheSystemsOrderWithThePrimaryMarked) {
  const char* flag = std::getenv("CORVANE_TWO_MONITORS");
  if (flag == nullptr || std::string(flag) != "1") {
    GTEST_SKIP() << "needs the two-monitor X server (Xorg with the dummy driver and Xinerama) that "
                    "scripts/test starts; not available in this run";
  }
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto reply = connection.request(protocol::reply("m", protocol::ListCaptureSources{}));
  ASSERT_TRUE(reply);
  const auto* list = std::get_if<protocol::CaptureSourceList>(&reply->payload);
  ASSERT_NE(list, nullptr);
  ASSERT_GE(list->sources.size(), 2u);
  // Heads: 1920×1080 at (0,0), 1280×1024 to its right.
  EXPECT_EQ(list->sources[0].name,
            "\\\\.\\DISPLAY1 \xC2\xB7 1920\xC3\x97"
            "1080 \xC2\xB7 primary");
  EXPECT_EQ(list->sources[1].name,
            "\\\\.\\DISPLAY2 \xC2\xB7 1280\xC3\x97"
            "1024");
  EXPECT_EQ(list->sources[0].kind, "monitor");
  EXPECT_EQ(list->sources[1].kind, "monitor");
  EXPECT_NE(list->sources[0].id, list->sources[1].id);
  for (std::size_t i = 2; i < list->sources.size(); ++i) {
    EXPECT_EQ(list->sources[i].kind, "window");
  }
  const ChildOutcome outcome = connection.finish();
  EXPECT_EQ(outcome.exit_code, 0u);
}

}  // namespace
}  // namespace corvane::testing
