#pragma once
// An unbounded multi-producer channel: senders never block; the one receiver takes what is waiting.

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace corvane {

template <class T>
class EventReceiver;

namespace detail {

template <class T>
struct ChannelState {
  std::mutex mutex;
  std::deque<T> queue;
  bool receiver_alive = true;
};

}  // namespace detail

// A sending end; copies are further senders of the same channel.
template <class T>
class EventSender {
 public:
  // Queues `value`; false when the receiving end has been released (or this sender was moved from).
  bool send(T value) const {
    if (!state_) {
      return false;
    }
    const std::scoped_lock lock(state_->mutex);
    if (!state_->receiver_alive) {
      return false;
    }
    state_->queue.push_back(std::move(value));
    return true;
  }

 private:
  template <class U>
  friend std::pair<EventSender<U>, EventReceiver<U>> make_event_channel();
  explicit EventSender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::ChannelState<T>> state_;
};

// The receiving end; releasing it discards what is queued and makes later sends fail.
template <class T>
class EventReceiver {
 public:
  EventReceiver(const EventReceiver&) = delete;
  EventReceiver& operator=(const EventReceiver&) = delete;
  EventReceiver(EventReceiver&&) noexcept = default;
  // Taking another channel releases this one first, so its senders learn that nobody listens.
  EventReceiver& operator=(EventReceiver&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~EventReceiver() { release(); }

  // The oldest waiting value, if any; never blocks.
  std::optional<T> try_receive() {
    if (!state_) {
      return std::nullopt;
    }
    const std::scoped_lock lock(state_->mutex);
    if (state_->queue.empty()) {
      return std::nullopt;
    }
    T value = std::move(state_->queue.front());
    state_->queue.pop_front();
    return value;
  }

  // Closes the channel: queued values are dropped, senders learn that nobody listens.
  void release() {
    if (state_) {
      const std::scoped_lock lock(state_->mutex);
      state_->receiver_alive = false;
      state_->queue.clear();
    }
    state_.reset();
  }

 private:
  template <class U>
  friend std::pair<EventSender<U>, EventReceiver<U>> make_event_channel();
  explicit EventReceiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::ChannelState<T>> state_;
};

// Creates a channel: the first sender and the receiver.
template <class T>
std::pair<EventSender<T>, EventReceiver<T>> make_event_channel() {
  auto state = std::make_shared<detail::ChannelState<T>>();
  return {EventSender<T>(state), EventReceiver<T>(state)};
}

}  // namespace corvane
