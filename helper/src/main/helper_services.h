#pragma once
// The helper's dispatch table: the session's operations wired to the subsystems of this build.

#include "main/session.h"
#include "main/windows_machine.h"
#include "platform/precise_wait.h"
#include "windows/media/broadcast_engine.h"

namespace corvane::helper {

// SessionServices of the real helper process.
class HelperServices final : public SessionServices {
 public:
  // `parent` is the verified parent process (a handle that stays valid for the whole session).
  explicit HelperServices(HANDLE parent) : parent_(parent) {}

  // Loads the runtime beside the executable into a new broadcast engine.
  void load_media_runtime() override;
  protocol::MediaCapabilities build_media_capabilities() override;
  Result<std::vector<protocol::CaptureSource>> list_capture_sources() override;
  Result<BroadcastStarted> start_broadcast(const protocol::StartBroadcast& request, std::uint32_t parent_pid) override;
  ProfileUpdate update_broadcast_profile(const protocol::UpdateBroadcastProfile& request) override;
  void stop_broadcast() override;
  SupervisionEvent supervise_broadcast() override;
  // Drops the engine, which unloads the runtime.
  void release_media() override { engine_.reset(); }
  Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(const std::vector<std::uint32_t>& keys,
                                                                      EventSender<ChordTransition> sender) override;
  // Waits 8 ms on a high-resolution waitable timer.
  void idle_wait() override;
  bool parent_ended(std::chrono::milliseconds within) override;

 private:
  HANDLE parent_;
  PreciseWait idle_wait_;
  WindowsMachine machine_;
  std::unique_ptr<BroadcastEngine> engine_;
};

}  // namespace corvane::helper
