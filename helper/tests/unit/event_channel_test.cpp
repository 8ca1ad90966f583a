#include "common/event_channel.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace corvane {
namespace {

TEST(EventChannel, ValuesArriveInOrderAndTakingNeverBlocks) {
  auto [sender, receiver] = make_event_channel<int>();
  EXPECT_FALSE(receiver.try_receive().has_value());
  EXPECT_TRUE(sender.send(1));
  EXPECT_TRUE(sender.send(2));
  EXPECT_EQ(receiver.try_receive(), 1);
  EXPECT_EQ(receiver.try_receive(), 2);
  EXPECT_FALSE(receiver.try_receive().has_value());
}

TEST(EventChannel, ManyProducersKeepTheirOwnOrder) {
  auto [sender, receiver] = make_event_channel<std::pair<int, int>>();
  constexpr int kPerProducer = 2000;
  std::vector<std::thread> producers;
  for (int producer = 0; producer < 3; ++producer) {
    producers.emplace_back([producer, copy = sender] {
      for (int i = 0; i < kPerProducer; ++i) {
        copy.send({producer, i});
      }
    });
  }
  for (auto& thread : producers) {
    thread.join();
  }
  std::vector<int> next(3, 0);
  int total = 0;
  while (auto value = receiver.try_receive()) {
    EXPECT_EQ(value->second, next[static_cast<std::size_t>(value->first)]++);
    ++total;
  }
  EXPECT_EQ(total, 3 * kPerProducer);
}

TEST(EventChannel, ReleasingTheReceiverDiscardsAndRefusesLaterSends) {
  auto [sender, receiver] = make_event_channel<int>();
  EXPECT_TRUE(sender.send(7));
  receiver.release();
  EXPECT_FALSE(receiver.try_receive().has_value());
  EXPECT_FALSE(sender.send(8));
  {
    auto [other_sender, other_receiver] = make_event_channel<int>();
    sender = other_sender;
  }  // the receiver went out of scope
  EXPECT_FALSE(sender.send(9));
}

TEST(EventChannel, AReceiverThatTakesAnotherChannelReleasesItsOwn) {
  auto [first_sender, first_receiver] = make_event_channel<int>();
  auto [second_sender, second_receiver] = make_event_channel<int>();
  first_receiver = std::move(second_receiver);
  EXPECT_FALSE(first_sender.send(1)) << "nobody listens to the first channel any more";
  EXPECT_TRUE(second_sender.send(2));
  EXPECT_EQ(first_receiver.try_receive(), 2);
}

TEST(EventChannel, AMovedFromSenderRefusesToSend) {
  auto [sender, receiver] = make_event_channel<int>();
  const EventSender<int> moved = std::move(sender);
  EXPECT_TRUE(moved.send(1));
  EXPECT_FALSE(sender.send(2));  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(receiver.try_receive(), 1);
  EXPECT_FALSE(receiver.try_receive().has_value());
}

}  // namespace
}  // namespace corvane
