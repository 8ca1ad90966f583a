#include "windows/media/encoder_probe.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

#include "windows/media/pipeline_description.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kEncoderProbeBudget{900};
constexpr milliseconds kAudioProbeBudget{2000};
constexpr milliseconds kAudioProbeSettle{250};
constexpr milliseconds kProbePollInterval{10};

std::string number(std::uint32_t value) { return std::to_string(value); }

// The part between the test source and the encoder: raw frames in the encoder's input format.
std::string probe_conversion(const RuntimeSymbols& gst, std::string_view element, const VideoSettings& video) {
  const std::string size = ",width=" + number(video.width) + ",height=" + number(video.height) +
                           ",framerate=" + number(video.frame_rate) + "/1";
  if (element == "x264enc") {
    return "videoconvert ! video/x-raw,format=I420" + size;
  }
  if (element_available(gst, "d3d11upload")) {
    return "videoconvert ! video/x-raw,format=BGRA" + size +
           " ! d3d11upload ! d3d11convert ! video/x-raw(memory:D3D11Memory),format=NV12" + size;
  }
  return "videoconvert ! video/x-raw,format=NV12" + size;
}

std::string join(const std::vector<std::string>& entries, std::string_view separator) {
  std::string text;
  for (const auto& entry : entries) {
    if (!text.empty()) {
      text += separator;
    }
    text += entry;
  }
  return text;
}

// Factories of `names` (in that order) that the runtime does not have.
std::vector<std::string> missing_elements(const RuntimeSymbols& gst, std::initializer_list<const char*> names) {
  std::vector<std::string> missing;
  std::copy_if(names.begin(), names.end(), std::back_inserter(missing),
               [&](const char* name) { return !element_available(gst, name); });
  return missing;
}

}  // namespace

Status probe_encoder(const RuntimeSymbols& gst, MediaMachine& machine, std::string_view element,
                     const ProbeProfile& profile, bool quality) {
  const VideoSettings& video = profile.settings;
  auto encoder = build_encoder_description(element, video.bitrate_kbps, gop_frames(video.frame_rate), quality);
  if (!encoder) {
    return fail(encoder.error());
  }
  const std::uint32_t buffers = video.frame_rate >= 60 ? 12 : 8;
  const std::string description =
      "videotestsrc is-live=true num-buffers=" + number(buffers) + " pattern=black ! " +
      probe_conversion(gst, element, video) + " ! " + *encoder +
      " ! h264parse ! video/x-h264,profile=" + std::string(h264_profile_for(element, quality)) +
      " ! fakesink sync=false";
  auto launched = launch_description(gst, description);
  if (!launched) {
    return fail(launched.error());
  }
  const LaunchedPipeline probe(gst, *launched, kGstSecond);
  if (probe.bus() == nullptr) {
    return fail("encoder probe did not create a pipeline bus");
  }
  if (gst.gst_element_set_state(probe.element(), kGstStatePlaying) == kGstStateChangeFailure) {
    return fail("encoder probe could not enter PLAYING");
  }
  const auto deadline = machine.now() + kEncoderProbeBudget;
  for (;;) {
    const BusPoll poll = poll_bus(gst, probe.bus());
    if (poll.event == BusEvent::eos) {
      return Done{};
    }
    if (poll.event == BusEvent::error) {
      return fail(poll.error_text);
    }
    if (machine.now() >= deadline) {
      return fail("encoder probe timed out");
    }
    machine.sleep_for(kProbePollInterval);
  }
}

void probe_encoders(BroadcastEngine& engine) {
  if (engine.probed) {
    return;
  }
  engine.probed = true;
  if (!engine.runtime.available()) {
    return;
  }
  const RuntimeSymbols& gst = *engine.runtime.symbols;
  for (const EncoderCandidate& candidate : kEncoderCandidates) {
    if (!element_available(gst, candidate.element)) {
      continue;
    }
    const std::string name(candidate.element);
    engine.machine.probe_log("[media-probe] start encoder=" + name);
    EncoderProbeRecord record{name, false, std::string(candidate.kind), "", "", ""};
    std::vector<std::string> notes;
    for (const ProbeProfile& profile : probe_profiles_for_kind(candidate.kind)) {
      const std::string id(profile.id);
      const Status quality = probe_encoder(gst, engine.machine, candidate.element, profile, true);
      if (quality) {
        record.rate_control = kRateControlQuality;
      } else {
        const Status cbr = probe_encoder(gst, engine.machine, candidate.element, profile, false);
        if (!cbr) {
          notes.push_back(id + ": active encoder probe failed: " + cbr.error());
          continue;
        }
        record.rate_control = kRateControlCbrFallback;
        notes.push_back(id + ": quality rate control unavailable: " + quality.error());
      }
      record.usable = true;
      record.profile = id;
      break;
    }
    record.note = join(notes, "; ");
    engine.machine.probe_log("[media-probe] result encoder=" + name + " usable=" + (record.usable ? "true" : "false") +
                             " profile=" + record.profile);
    engine.probe_records.push_back(record);
    if (record.usable) {
      engine.usable_encoders.push_back({record.name, record.kind, record.profile, record.rate_control});
      return;
    }
  }
}

Status probe_system_audio(const RuntimeSymbols& gst, MediaMachine& machine, bool exclude_app_audio,
                          std::uint32_t excluded_process_id) {
  const std::string description = system_audio_source(exclude_app_audio, excluded_process_id) +
                                  " num-buffers=4 ! audioconvert ! audioresample ! "
                                  "audio/x-raw,rate=48000,channels=2 ! fakesink sync=false async=false";
  auto launched = launch_description(gst, description);
  if (!launched) {
    return fail(launched.error());
  }
  const LaunchedPipeline probe(gst, *launched, kGstSecond);
  if (probe.bus() == nullptr) {
    return fail("system audio probe did not create a pipeline bus");
  }
  if (gst.gst_element_set_state(probe.element(), kGstStatePlaying) == kGstStateChangeFailure) {
    return fail("system audio probe could not enter PLAYING");
  }
  const auto start = machine.now();
  const auto deadline = start + kAudioProbeBudget;
  for (;;) {
    const BusPoll poll = poll_bus(gst, probe.bus());
    if (poll.event == BusEvent::eos) {
      return Done{};
    }
    if (poll.event == BusEvent::error) {
      return fail(poll.error_text);
    }
    int state = 0;
    int pending = 0;
    if (gst.gst_element_get_state(probe.element(), &state, &pending, 0) == kGstStateChangeFailure) {
      return fail("system audio source failed during startup");
    }
    const auto now = machine.now();
    if (state == kGstStatePlaying && now - start >= kAudioProbeSettle) {
      return Done{};
    }
    if (now >= deadline) {
      return fail("system audio probe timed out");
    }
    machine.sleep_for(kProbePollInterval);
  }
}

protocol::MediaCapabilities build_media_capabilities(BroadcastEngine& engine) {
  probe_encoders(engine);
  protocol::MediaCapabilities report;
  report.ok = true;
  report.always_true = true;
  if (!engine.runtime.available()) {
    report.unavailable_reasons = {{"windowsGraphicsCapture", engine.runtime.runtime_error},
                                  {"systemAudio", engine.runtime.runtime_error}};
    return report;
  }
  const RuntimeSymbols& gst = *engine.runtime.symbols;
  report.runtime_version = runtime_version(gst);

  const auto missing_video = missing_elements(
      gst, {"d3d11screencapturesrc", "d3d11convert", "h264parse", "webrtcbin", "whipclientsink", "identity"});
  for (const auto& usable : engine.usable_encoders) {
    report.usable_encoders.push_back(usable.name);
  }
  const UsableEncoder* active = engine.usable_encoders.empty() ? nullptr : &engine.usable_encoders.front();
  // The first usable encoder is the one a start would run; the encoder of a running broadcast stays
  // what its start or its last recovery made it.
  report.active_encoder = active != nullptr ? active->name : std::string();

  const std::optional<std::uint32_t> build = engine.machine.windows_build();
  report.windows_graphics_capture_available =
      build && *build >= kWindowsGraphicsCaptureBuild && missing_video.empty() && active != nullptr;
  if (!report.windows_graphics_capture_available) {
    if (!build || *build < kWindowsGraphicsCaptureBuild) {
      report.unavailable_reasons["windowsGraphicsCapture"] =
          "Windows Graphics Capture requires Windows 10 build 17134 or newer";
    } else if (!missing_video.empty()) {
      report.unavailable_reasons["windowsGraphicsCapture"] =
          "required GStreamer elements are missing: " + join(missing_video, ", ");
    } else {
      report.unavailable_reasons["windowsGraphicsCapture"] = "no supported H.264 encoder is available";
    }
  }

  const auto missing_audio = missing_elements(gst, {"wasapi2src", "audioconvert", "audioresample", "opusenc"});
  report.system_audio_available = build && *build >= kWasapi2Build && missing_audio.empty();
  if (!report.system_audio_available) {
    report.unavailable_reasons["systemAudio"] =
        !missing_audio.empty() ? "required GStreamer elements are missing: " + join(missing_audio, ", ")
                               : std::string("WASAPI2 requires Windows 10");
  }

  if (report.windows_graphics_capture_available && active != nullptr) {
    report.active_probe_profile = active->profile;
  }
  report.active_encoder_kind = active != nullptr ? active->kind : std::string();
  report.allowed_profile_ids =
      allowed_profile_ids(report.active_probe_profile, report.windows_graphics_capture_available);
  for (const auto& record : engine.probe_records) {
    report.encoders.push_back(
        {record.name, record.usable, record.kind, record.profile, record.rate_control, record.note});
  }
  return report;
}

}  // namespace corvane::helper
