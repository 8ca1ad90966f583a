#pragma once
// Which H.264 encoders work on this machine, found by running short test pipelines through them, and
// the capability report built from that.

#include <cstdint>
#include <string_view>

#include "common/result.h"
#include "protocol/messages.h"
#include "windows/media/broadcast_engine.h"
#include "windows/media/video_profiles.h"

namespace corvane::helper {

// Windows builds that capture and system audio need.
inline constexpr std::uint32_t kWindowsGraphicsCaptureBuild = 17134;
inline constexpr std::uint32_t kWasapi2Build = 10240;

// Runs `element` on black test frames at a probe profile: succeeds when every frame was encoded and
// the pipeline ended within 900 ms of playing.
Status probe_encoder(const RuntimeSymbols& gst, MediaMachine& machine, std::string_view element,
                     const ProbeProfile& profile, bool quality);

// Probes the catalogue once per session, in preference order, stopping at the first usable encoder.
void probe_encoders(BroadcastEngine& engine);

// Checks that the system-audio source starts and stays playing for 250 ms (2 s budget).
Status probe_system_audio(const RuntimeSymbols& gst, MediaMachine& machine, bool exclude_app_audio,
                          std::uint32_t excluded_process_id);

// The capability report; probes first when that has not happened in this session. Its active encoder
// is the first usable one; the engine's (that of a running broadcast) is left as it is.
protocol::MediaCapabilities build_media_capabilities(BroadcastEngine& engine);

}  // namespace corvane::helper
