#include "main/helper_services.h"

#include "chord/key_chord_monitor.h"
#include "windows/capture/list_capture_sources.h"

namespace corvane::helper {

protocol::MediaCapabilities HelperServices::build_media_capabilities() {
  protocol::MediaCapabilities report;
  report.ok = true;
  report.always_true = true;
  report.unavailable_reasons = {{"systemAudio", kNotAvailable}, {"windowsGraphicsCapture", kNotAvailable}};
  return report;
}

Result<std::vector<protocol::CaptureSource>> HelperServices::list_capture_sources() {
  return helper::list_capture_sources();
}

Result<BroadcastStarted> HelperServices::start_broadcast(const protocol::StartBroadcast& /*request*/,
                                                         std::uint32_t /*parent_pid*/) {
  return fail(kNotAvailable);
}

Result<std::string> HelperServices::update_broadcast_profile(const protocol::UpdateBroadcastProfile& /*request*/) {
  return fail(kNotAvailable);
}

Result<std::unique_ptr<ChordMonitorHandle>> HelperServices::start_key_chord_monitor(
    const std::vector<std::uint32_t>& keys, EventSender<ChordTransition> sender) {
  return helper::start_key_chord_monitor(keys, std::move(sender));
}

void HelperServices::idle_wait() { idle_wait_.wait(std::chrono::milliseconds(8)); }

}  // namespace corvane::helper
