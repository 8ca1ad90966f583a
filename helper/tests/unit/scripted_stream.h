#pragma once
// Test helper: an in-memory FrameStream driven by a script. Incoming bytes can be appended between
// calls, reads can be cut into chunks, any numbered read, peek or write can fail with a system code,
// the stream can end after a number of bytes, writes can be accepted in chunks or report 0 bytes,
// and everything written is recorded. Shared by the unit tests and the frame reader fuzz target,
// so it uses nothing but the standard library.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "protocol/frames.h"

namespace corvane::testing {

class ScriptedStream final : public protocol::FrameStream {
 public:
  static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

  // Bytes that have arrived: peeks see them, reads take them.
  void append(std::span<const std::uint8_t> bytes) { incoming_.insert(incoming_.end(), bytes.begin(), bytes.end()); }
  // Bytes that arrive only while a read waits for data (a blocking read with nothing waiting),
  // one piece per wait; peeks do not make them arrive.
  void arrive_later(std::vector<std::uint8_t> piece) { later_.push_back(std::move(piece)); }
  // Makes the next of those pieces arrive now; false when none is left.
  bool deliver_next() {
    if (later_.empty()) {
      return false;
    }
    append(later_.front());
    later_.pop_front();
    return true;
  }

  // Each read hands out at most `size` bytes (at least 1).
  void read_in_chunks(std::size_t size) { read_chunk_ = std::max<std::size_t>(size, 1); }
  // After `bytes` bytes were read in total, reads report the end of the stream (0 bytes).
  void end_after(std::size_t bytes) { end_after_ = bytes; }
  // Each peek copies at most `size` bytes.
  void peek_at_most(std::size_t size) { peek_limit_ = size; }
  // Peeks report this many available bytes instead of the true count.
  void report_available(std::size_t count) { available_override_ = count; }

  // The `nth` call (counted from 1) of its kind fails with this error.
  void fail_read(std::size_t nth, std::uint32_t os_code, std::string message) {
    read_failure_ = Scheduled{nth, protocol::TransportError{os_code, std::move(message)}};
  }
  void fail_peek(std::size_t nth, std::uint32_t os_code, std::string message) {
    peek_failure_ = Scheduled{nth, protocol::TransportError{os_code, std::move(message)}};
  }
  void fail_write(std::size_t nth, std::uint32_t os_code, std::string message) {
    write_failure_ = Scheduled{nth, protocol::TransportError{os_code, std::move(message)}};
  }

  // Each write accepts at most `size` bytes (at least 1).
  void write_in_chunks(std::size_t size) { write_chunk_ = std::max<std::size_t>(size, 1); }
  // The `nth` write (counted from 1) succeeds but reports 0 bytes written.
  void write_nothing_at(std::size_t nth) { zero_write_ = nth; }

  const std::vector<std::uint8_t>& written() const { return written_; }
  // The size of the span each write was offered, in call order.
  const std::vector<std::size_t>& write_offers() const { return write_offers_; }
  // Bytes handed out by reads so far.
  std::size_t consumed() const { return consumed_; }
  // Bytes that have arrived and were not read yet.
  std::size_t waiting() const { return incoming_.size() - consumed_; }
  std::size_t reads() const { return reads_; }
  std::size_t peeks() const { return peeks_; }
  std::size_t writes() const { return writes_; }
  // Reads whose buffer was empty: such a read cannot tell data from the end of the stream.
  std::size_t empty_reads() const { return empty_reads_; }
  // Scheduled failures that have been reported.
  std::size_t failures_reported() const { return failures_reported_; }

  Expected<protocol::Peeked, protocol::TransportError> peek(std::span<std::uint8_t> buffer) override {
    ++peeks_;
    protocol::TransportError error;
    if (take_failure(peek_failure_, peeks_, error)) {
      return fail(std::move(error));
    }
    const std::size_t present = readable();
    const std::size_t copied = std::min({buffer.size(), present, peek_limit_});
    std::copy_n(incoming_.begin() + static_cast<std::ptrdiff_t>(consumed_), copied, buffer.begin());
    return protocol::Peeked{copied, available_override_.value_or(present)};
  }

  Expected<std::size_t, protocol::TransportError> read(std::span<std::uint8_t> buffer) override {
    ++reads_;
    if (buffer.empty()) {
      ++empty_reads_;
    }
    protocol::TransportError error;
    if (take_failure(read_failure_, reads_, error)) {
      return fail(std::move(error));
    }
    // A read with nothing waiting blocks until the next piece arrives.
    while (readable() == 0 && !ended()) {
      if (!deliver_next()) {
        break;
      }
    }
    const std::size_t got = std::min({buffer.size(), readable(), read_chunk_});
    std::copy_n(incoming_.begin() + static_cast<std::ptrdiff_t>(consumed_), got, buffer.begin());
    consumed_ += got;
    return got;
  }

  Expected<std::size_t, protocol::TransportError> write(std::span<const std::uint8_t> bytes) override {
    ++writes_;
    write_offers_.push_back(bytes.size());
    protocol::TransportError error;
    if (take_failure(write_failure_, writes_, error)) {
      return fail(std::move(error));
    }
    if (writes_ == zero_write_) {
      return std::size_t{0};
    }
    const std::size_t written = std::min(bytes.size(), write_chunk_);
    written_.insert(written_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(written));
    return written;
  }

 private:
  struct Scheduled {
    std::size_t nth = 0;
    protocol::TransportError error;
  };

  bool ended() const { return end_after_.has_value() && consumed_ >= *end_after_; }

  // Bytes a read or peek may see: what has arrived, cut at the end of the stream.
  std::size_t readable() const {
    std::size_t limit = incoming_.size();
    if (end_after_) {
      limit = std::min(limit, *end_after_);
    }
    return limit > consumed_ ? limit - consumed_ : 0;
  }

  bool take_failure(const std::optional<Scheduled>& failure, std::size_t call, protocol::TransportError& error) {
    if (!failure || failure->nth != call) {
      return false;
    }
    error = failure->error;
    ++failures_reported_;
    return true;
  }

  std::vector<std::uint8_t> incoming_;
  std::deque<std::vector<std::uint8_t>> later_;
  std::size_t consumed_ = 0;
  std::size_t read_chunk_ = kUnlimited;
  std::size_t peek_limit_ = kUnlimited;
  std::optional<std::size_t> available_override_;
  std::optional<std::size_t> end_after_;
  std::optional<Scheduled> read_failure_;
  std::optional<Scheduled> peek_failure_;
  std::optional<Scheduled> write_failure_;
  std::size_t write_chunk_ = kUnlimited;
  std::size_t zero_write_ = 0;
  std::vector<std::uint8_t> written_;
  std::vector<std::size_t> write_offers_;
  std::size_t reads_ = 0;
  std::size_t peeks_ = 0;
  std::size_t writes_ = 0;
  std::size_t empty_reads_ = 0;
  std::size_t failures_reported_ = 0;
};

}  // namespace corvane::testing
