#pragma once
// One connection of the helper, from the first frame to the end: authentication, the command loop
// with event forwarding, dispatch, and the orderly shutdown. The subsystems it serves are reached
// through SessionServices, the one dispatch table.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chord/key_chord.h"
#include "common/event_channel.h"
#include "common/result.h"
#include "main/launch_config.h"
#include "protocol/frames.h"
#include "protocol/messages.h"
#include "windows/media/supervision_event.h"

namespace corvane::helper {

// The operations a session calls; the helper's entry supplies the real subsystems.
class SessionServices {
 public:
  SessionServices() = default;
  SessionServices(const SessionServices&) = delete;
  SessionServices& operator=(const SessionServices&) = delete;
  virtual ~SessionServices() = default;

  // After authentication: a new broadcast engine with the media runtime loaded (a load failure is
  // kept by the engine and reported by later commands).
  virtual void load_media_runtime() = 0;
  virtual protocol::MediaCapabilities build_media_capabilities() = 0;
  virtual Result<std::vector<protocol::CaptureSource>> list_capture_sources() = 0;
  virtual Result<BroadcastStarted> start_broadcast(const protocol::StartBroadcast& request,
                                                   std::uint32_t parent_pid) = 0;
  virtual ProfileUpdate update_broadcast_profile(const protocol::UpdateBroadcastProfile& request) = 0;
  // Stops the broadcast if one runs; always succeeds.
  virtual void stop_broadcast() = 0;
  // One supervision step of the running broadcast, if any.
  virtual SupervisionEvent supervise_broadcast() = 0;
  // Releases the broadcast engine: stops any broadcast and unloads the media runtime.
  virtual void release_media() = 0;
  // Starts watching a chord; transitions go to `sender`.
  virtual Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(const std::vector<std::uint32_t>& keys,
                                                                              EventSender<ChordTransition> sender) = 0;
  // The pause of a loop iteration that found nothing to do (8 ms).
  virtual void idle_wait() = 0;
  // True once the verified parent process has ended, waiting at most `within` for that. Its end of
  // the pipe usually closes with it, but not always visibly: a frame it left half-written keeps the
  // pipe readable.
  virtual bool parent_ended(std::chrono::milliseconds within) = 0;
};

// True when a request ID is 1..128 bytes of A-Z, a-z, 0-9, '.', '_', ':', '-'.
bool request_id_valid(std::string_view request_id);

// Compares a presented nonce with the expected one, looking at all 32 bytes whatever differs.
bool nonce_matches(std::span<const std::uint8_t> presented, const std::array<std::uint8_t, 32>& expected);

// Serves one verified connection to its end. Success means the client went away and everything was
// shut down (exit code 0); a failure is the one line the helper reports (exit code 1). `close_pipe`
// disconnects and closes the pipe; it is called exactly once, last.
Status run_session(protocol::FrameStream& pipe, const std::function<void()>& close_pipe, const LaunchConfig& config,
                   SessionServices& services);

}  // namespace corvane::helper
