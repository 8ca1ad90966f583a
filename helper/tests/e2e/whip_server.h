#pragma once
// A third-party WHIP server for the end-to-end tests: Janus (VideoRoom) behind Debian's
// simple-whip-server, on 127.0.0.1 inside a network namespace of this test process's own. Every
// process it starts is stopped by its process ID.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::e2e {

// Moves this process (which must have no other thread yet) into a new network namespace holding
// `lo` and a veth pair whose one end carries 127.0.0.1/32: libnice gathers no candidate on a
// loopback interface, so the address must also sit on an ordinary one. Nothing leaves the
// namespace. An error text when that is impossible (not root, no iproute2).
std::optional<std::string> enter_private_network();

// A child process writing its output to a log file; stopped (SIGTERM, then SIGKILL) when dropped.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { stop(); }

  // Starts `argv` with the environment plus `extra_env` ("NAME=value"); an error text on failure.
  std::optional<std::string> start(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                                   const std::string& log_path);
  // Stops the process and reaps it; nothing when it is not running.
  void stop();
  bool running() const { return pid_ > 0; }
  // Sends `number` to the running process; false when it is not running or the signal failed.
  bool signal(int number) const;

 private:
  pid_t pid_ = -1;
};

// What Janus received from the publishers of the room, summed over their handles.
struct PublisherTraffic {
  std::vector<std::uint64_t> handles;  // the VideoRoom handles that received media
  std::uint64_t video_packets = 0;
  std::uint64_t audio_packets = 0;
  std::uint64_t video_bytes = 0;
  std::uint64_t video_lost = 0;  // video packets Janus found missing (its RTCP receiver count)
};

// An endpoint of the room; `token` empty: none required.
struct WhipEndpoint {
  std::string id;
  std::string token;
};

class WhipServer {
 public:
  static constexpr std::uint16_t kWhipPort = 7080;
  static constexpr std::uint16_t kSetupPort = 7081;  // the front end's port until its endpoints exist
  static constexpr std::uint64_t kRoom = 1234;

  WhipServer();
  ~WhipServer();
  WhipServer(const WhipServer&) = delete;
  WhipServer& operator=(const WhipServer&) = delete;

  // Starts Janus and waits until its API answers.
  std::optional<std::string> start_janus();
  // Starts the WHIP front end with `endpoints` (it keeps them in memory, so a restart names them
  // again) and waits until it answers on kWhipPort. Publishers cannot reach it before the endpoints
  // exist: it answers on kSetupPort until they are created.
  std::optional<std::string> start_whip(const std::vector<WhipEndpoint>& endpoints);
  void stop_whip();

  // The WHIP URL of this server ("http://localhost:7080/whip/endpoint"): the endpoint ID is the stream key.
  static std::string whip_url();

  // Janus's admin API: what the room's publishers sent, or an error text.
  std::optional<std::string> publisher_traffic(PublisherTraffic& traffic) const;

  // The last lines of both logs, for a failure message.
  std::string log_tail() const;

 private:
  std::string work_dir_;
  ChildProcess janus_;
  ChildProcess whip_;
};

// Waits until `condition` holds or `limit_ms` passed, checking every 20 ms; true when it holds.
template <class Condition>
bool wait_until(Condition condition, int limit_ms);

}  // namespace corvane::e2e

#include <chrono>
#include <thread>

namespace corvane::e2e {
template <class Condition>
bool wait_until(Condition condition, int limit_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}
}  // namespace corvane::e2e
