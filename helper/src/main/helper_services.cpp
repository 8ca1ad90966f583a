#include "main/helper_services.h"

#include "chord/key_chord_monitor.h"
#include "windows/capture/list_capture_sources.h"
#include "windows/media/encoder_probe.h"
#include "windows/media/runtime_loader.h"

namespace corvane::helper {

void HelperServices::load_media_runtime() {
  engine_ = std::make_unique<BroadcastEngine>(helper::load_media_runtime(), machine_);
}

protocol::MediaCapabilities HelperServices::build_media_capabilities() {
  return helper::build_media_capabilities(*engine_);
}

Result<std::vector<protocol::CaptureSource>> HelperServices::list_capture_sources() {
  return helper::list_capture_sources();
}

Result<BroadcastStarted> HelperServices::start_broadcast(const protocol::StartBroadcast& request,
                                                         std::uint32_t parent_pid) {
  return helper::start_broadcast(*engine_, request, parent_pid);
}

ProfileUpdate HelperServices::update_broadcast_profile(const protocol::UpdateBroadcastProfile& request) {
  return helper::update_broadcast_profile(*engine_, request);
}

void HelperServices::stop_broadcast() {
  if (engine_) {
    helper::stop_broadcast(*engine_);
  }
}

SupervisionEvent HelperServices::supervise_broadcast() { return helper::supervise_broadcast(*engine_); }

Result<std::unique_ptr<ChordMonitorHandle>> HelperServices::start_key_chord_monitor(
    const std::vector<std::uint32_t>& keys, EventSender<ChordTransition> sender) {
  return helper::start_key_chord_monitor(keys, std::move(sender));
}

void HelperServices::idle_wait() { idle_wait_.wait(std::chrono::milliseconds(8)); }

bool HelperServices::parent_ended(std::chrono::milliseconds within) {
  return WaitForSingleObject(parent_, static_cast<DWORD>(within.count())) == WAIT_OBJECT_0;
}

}  // namespace corvane::helper
