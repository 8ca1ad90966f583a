// The broadcast engine's fixed vocabulary: profile IDs, launch range, encoder ceilings, probe profiles,
// encoder catalogue and descriptions, and the rendition ladder.
#include "windows/media/video_profiles.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace corvane::helper {

// Readable failure messages (found by argument-dependent lookup, so outside the anonymous namespace).
void PrintTo(const Rendition& r, std::ostream* out) {
  *out << '{' << r.label << ' ' << r.width << 'x' << r.height << '@' << r.frame_rate << ' ' << r.bitrate_kbps
       << " kbps gop " << r.gop << '}';
}

void PrintTo(const VideoSettings& v, std::ostream* out) {
  *out << '{' << v.width << 'x' << v.height << '@' << v.frame_rate << ' ' << v.bitrate_kbps << " kbps}";
}

namespace {

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();

using Ids = std::vector<std::string>;

// The error of a check, or "" when it passed.
std::string error_of(const Status& status) { return status ? std::string() : status.error(); }

// --- Broadcast profile IDs ---

TEST(BroadcastProfileIds, TheSixIdsInOrder) {
  const std::vector<std::string_view> ids(kBroadcastProfileIds.begin(), kBroadcastProfileIds.end());
  EXPECT_EQ(ids, (std::vector<std::string_view>{"quality", "gaming", "balanced", "compat", "safe", "last-resort"}));
}

TEST(BroadcastProfileIds, OnlyTheExactIdsAreSupported) {
  for (const char* id : {"quality", "gaming", "balanced", "compat", "safe", "last-resort"}) {
    EXPECT_TRUE(profile_id_supported(id)) << id;
  }
  for (const char* id : {"", "Quality", "QUALITY", "quality ", " safe", "last_resort", "lastresort", "last",
                         "compatible", "1080p60", "hardware"}) {
    EXPECT_FALSE(profile_id_supported(id)) << '"' << id << '"';
  }
  EXPECT_FALSE(profile_id_supported(std::string_view("safe\0", 5))) << "a trailing NUL is part of the name";
}

TEST(DeriveProfileId, WidthAndFrameRateThresholds) {
  EXPECT_EQ(derive_profile_id(1920, 60), "quality");
  EXPECT_EQ(derive_profile_id(3840, 120), "quality");
  EXPECT_EQ(derive_profile_id(1920, 59), "balanced");
  EXPECT_EQ(derive_profile_id(1920, 30), "balanced");
  EXPECT_EQ(derive_profile_id(1919, 60), "gaming");
  EXPECT_EQ(derive_profile_id(1280, 60), "gaming");
  EXPECT_EQ(derive_profile_id(1280, 59), "balanced");
  EXPECT_EQ(derive_profile_id(1279, 60), "compat");
  EXPECT_EQ(derive_profile_id(960, 60), "compat");
  EXPECT_EQ(derive_profile_id(960, 29), "compat");
  EXPECT_EQ(derive_profile_id(959, 60), "safe");
  EXPECT_EQ(derive_profile_id(959, 30), "safe");
  EXPECT_EQ(derive_profile_id(959, 29), "last-resort");
  EXPECT_EQ(derive_profile_id(640, 15), "last-resort");
  EXPECT_EQ(derive_profile_id(0, 0), "last-resort");
}

TEST(AllowedProfileIds, EachProbeProfileAllowsItsLevelAndBelow) {
  EXPECT_EQ(allowed_profile_ids("1080p60", true),
            (Ids{"quality", "gaming", "balanced", "compat", "safe", "last-resort"}));
  EXPECT_EQ(allowed_profile_ids("720p60", true), (Ids{"gaming", "balanced", "compat", "safe", "last-resort"}));
  EXPECT_EQ(allowed_profile_ids("720p30", true), (Ids{"balanced", "compat", "safe", "last-resort"}));
  EXPECT_EQ(allowed_profile_ids("540p30", true), (Ids{"compat", "safe", "last-resort"}));
}

TEST(AllowedProfileIds, UnknownProbeProfilesAllowTheLowestThree) {
  for (const char* probe : {"", "1080P60", "1080p60 ", "720p", "software", "quality"}) {
    EXPECT_EQ(allowed_profile_ids(probe, true), (Ids{"compat", "safe", "last-resort"})) << '"' << probe << '"';
  }
}

TEST(AllowedProfileIds, NothingWithoutCapture) {
  for (const char* probe : {"1080p60", "720p60", "720p30", "540p30", ""}) {
    EXPECT_TRUE(allowed_profile_ids(probe, false).empty()) << probe;
  }
}

// --- Launch range ---

TEST(LaunchRange, LimitsAndMessage) {
  EXPECT_EQ(kMinLaunchWidth, 640u);
  EXPECT_EQ(kMaxLaunchWidth, 1920u);
  EXPECT_EQ(kMinLaunchHeight, 360u);
  EXPECT_EQ(kMaxLaunchHeight, 1080u);
  EXPECT_EQ(kMinLaunchFrameRate, 15u);
  EXPECT_EQ(kMaxLaunchFrameRate, 60u);
  EXPECT_EQ(kMinLaunchVideoKbps, 400u);
  EXPECT_EQ(kMaxLaunchVideoKbps, 8000u);
  EXPECT_EQ(kMinLaunchAudioKbps, 64u);
  EXPECT_EQ(kMaxLaunchAudioKbps, 128u);
  EXPECT_EQ(kOutsideLaunchRangeMessage, "video profile is outside the supported launch range");
}

TEST(LaunchRange, BoundsAreIncluded) {
  EXPECT_TRUE(within_launch_range(640, 360, 15, 400, 64));
  EXPECT_TRUE(within_launch_range(1920, 1080, 60, 8000, 128));
  EXPECT_TRUE(within_launch_range(1280, 720, 30, 2500, 96));
}

TEST(LaunchRange, EachValueJustOutsideIsRefused) {
  // Below each lower bound, the others at their lowest.
  EXPECT_FALSE(within_launch_range(639, 360, 15, 400, 64));
  EXPECT_FALSE(within_launch_range(640, 359, 15, 400, 64));
  EXPECT_FALSE(within_launch_range(640, 360, 14, 400, 64));
  EXPECT_FALSE(within_launch_range(640, 360, 15, 399, 64));
  EXPECT_FALSE(within_launch_range(640, 360, 15, 400, 63));
  // Above each upper bound, the others at their highest.
  EXPECT_FALSE(within_launch_range(1921, 1080, 60, 8000, 128));
  EXPECT_FALSE(within_launch_range(1920, 1081, 60, 8000, 128));
  EXPECT_FALSE(within_launch_range(1920, 1080, 61, 8000, 128));
  EXPECT_FALSE(within_launch_range(1920, 1080, 60, 8001, 128));
  EXPECT_FALSE(within_launch_range(1920, 1080, 60, 8000, 129));
  // Zeros and the largest values.
  EXPECT_FALSE(within_launch_range(0, 0, 0, 0, 0));
  EXPECT_FALSE(within_launch_range(kMax32, kMax32, kMax32, kMax32, kMax32));
}

// --- Encoder ceilings ---

TEST(EncoderCeilings, Messages) {
  EXPECT_EQ(kSoftwareCeilingMessage, "software encoding is capped at 540p30");
  EXPECT_EQ(kHardware720p30CeilingMessage, "this hardware encoder is capped at 720p30");
}

TEST(EncoderCeilings, SoftwareStopsAt540p30) {
  const std::string software_cap = "software encoding is capped at 540p30";
  EXPECT_TRUE(check_encoder_ceiling("software", "540p30", 960, 540, 30));
  EXPECT_TRUE(check_encoder_ceiling("software", "540p30", 640, 360, 15));
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "540p30", 961, 540, 30)), software_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "540p30", 960, 541, 30)), software_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "540p30", 960, 540, 31)), software_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "", 1920, 1080, 60)), software_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "1080p60", 1920, 1080, 60)), software_cap)
      << "the software cap holds whatever the probe reached";
}

TEST(EncoderCeilings, A720p30ProbeStopsAt720p30) {
  const std::string hardware_cap = "this hardware encoder is capped at 720p30";
  EXPECT_TRUE(check_encoder_ceiling("hardware", "720p30", 1280, 720, 30));
  EXPECT_TRUE(check_encoder_ceiling("hardware", "720p30", 960, 540, 15));
  EXPECT_EQ(error_of(check_encoder_ceiling("hardware", "720p30", 1281, 720, 30)), hardware_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("hardware", "720p30", 1280, 721, 30)), hardware_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("hardware", "720p30", 1280, 720, 31)), hardware_cap);
  EXPECT_EQ(error_of(check_encoder_ceiling("hardware", "720p30", 1920, 1080, 60)), hardware_cap);
}

TEST(EncoderCeilings, OtherProbesAndKindsHaveNoCap) {
  EXPECT_TRUE(check_encoder_ceiling("hardware", "1080p60", 1920, 1080, 60));
  EXPECT_TRUE(check_encoder_ceiling("hardware", "720p60", 1920, 1080, 60));
  EXPECT_TRUE(check_encoder_ceiling("hardware", "540p30", 1920, 1080, 60));
  EXPECT_TRUE(check_encoder_ceiling("hardware", "", kMax32, kMax32, kMax32));
  // Names are compared exactly.
  EXPECT_TRUE(check_encoder_ceiling("Software", "1080p60", 1920, 1080, 60));
  EXPECT_TRUE(check_encoder_ceiling("software ", "1080p60", 1920, 1080, 60));
  EXPECT_TRUE(check_encoder_ceiling("hardware", "720P30", 1920, 1080, 60));
}

TEST(EncoderCeilings, TheSoftwareRuleComesFirst) {
  // Both rules refuse 1280×720 at 60: the software message wins.
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "720p30", 1280, 720, 60)),
            "software encoding is capped at 540p30");
  // Within the 720p30 cap but above the software one.
  EXPECT_EQ(error_of(check_encoder_ceiling("software", "720p30", 1280, 720, 30)),
            "software encoding is capped at 540p30");
}

// --- Probe profiles ---

TEST(ProbeProfiles, TableInOrder) {
  ASSERT_EQ(kProbeProfiles.size(), 4u);
  EXPECT_EQ(kProbeProfiles[0], (ProbeProfile{"540p30", VideoSettings{960, 540, 30, 1300}}));
  EXPECT_EQ(kProbeProfiles[1], (ProbeProfile{"1080p60", VideoSettings{1920, 1080, 60, 6000}}));
  EXPECT_EQ(kProbeProfiles[2], (ProbeProfile{"720p60", VideoSettings{1280, 720, 60, 3200}}));
  EXPECT_EQ(kProbeProfiles[3], (ProbeProfile{"720p30", VideoSettings{1280, 720, 30, 2200}}));
}

std::vector<std::string_view> probe_ids(std::string_view kind) {
  std::vector<std::string_view> ids;
  for (const auto& profile : probe_profiles_for_kind(kind)) {
    ids.push_back(profile.id);
  }
  return ids;
}

TEST(ProbeProfiles, ByEncoderKind) {
  EXPECT_EQ(probe_ids("software"), (std::vector<std::string_view>{"540p30"}));
  EXPECT_EQ(probe_ids("hardware"), (std::vector<std::string_view>{"1080p60", "720p60", "720p30"}));
  ASSERT_EQ(probe_profiles_for_kind("software").size(), 1u);
  EXPECT_EQ(probe_profiles_for_kind("software")[0].settings, (VideoSettings{960, 540, 30, 1300}));
  ASSERT_EQ(probe_profiles_for_kind("hardware").size(), 3u);
  EXPECT_EQ(probe_profiles_for_kind("hardware")[2].settings, (VideoSettings{1280, 720, 30, 2200}));
  EXPECT_TRUE(probe_profiles_for_kind("").empty());
  EXPECT_TRUE(probe_profiles_for_kind("Hardware").empty());
  EXPECT_TRUE(probe_profiles_for_kind("x264enc").empty());
}

TEST(ProbeProfiles, EachProbeIsLaunchableAndAllowsItsOwnDerivedProfileFirst) {
  for (const auto& profile : kProbeProfiles) {
    const VideoSettings& video = profile.settings;
    EXPECT_TRUE(within_launch_range(video.width, video.height, video.frame_rate, video.bitrate_kbps, 64)) << profile.id;
    const auto allowed = allowed_profile_ids(profile.id, true);
    ASSERT_FALSE(allowed.empty()) << profile.id;
    EXPECT_EQ(allowed.front(), derive_profile_id(video.width, video.frame_rate)) << profile.id;
  }
}

TEST(VideoSettings, EqualityComparesEveryField) {
  const VideoSettings base{1280, 720, 30, 2200};
  EXPECT_EQ(base, (VideoSettings{1280, 720, 30, 2200}));
  EXPECT_NE(base, (VideoSettings{1281, 720, 30, 2200}));
  EXPECT_NE(base, (VideoSettings{1280, 721, 30, 2200}));
  EXPECT_NE(base, (VideoSettings{1280, 720, 31, 2200}));
  EXPECT_NE(base, (VideoSettings{1280, 720, 30, 2201}));
}

// --- Encoder catalogue ---

TEST(EncoderCatalogue, PreferenceOrderAndKinds) {
  ASSERT_EQ(kEncoderCandidates.size(), 5u);
  EXPECT_EQ(kEncoderCandidates[0], (EncoderCandidate{"nvd3d11h264enc", "hardware"}));
  EXPECT_EQ(kEncoderCandidates[1], (EncoderCandidate{"qsvh264enc", "hardware"}));
  EXPECT_EQ(kEncoderCandidates[2], (EncoderCandidate{"amfh264enc", "hardware"}));
  EXPECT_EQ(kEncoderCandidates[3], (EncoderCandidate{"mfh264enc", "hardware"}));
  EXPECT_EQ(kEncoderCandidates[4], (EncoderCandidate{"x264enc", "software"}));
}

TEST(EncoderCatalogue, KindOfAnElement) {
  EXPECT_EQ(encoder_kind("x264enc"), "software");
  EXPECT_EQ(encoder_kind("nvd3d11h264enc"), "hardware");
  EXPECT_EQ(encoder_kind("qsvh264enc"), "hardware");
  EXPECT_EQ(encoder_kind("amfh264enc"), "hardware");
  EXPECT_EQ(encoder_kind("mfh264enc"), "hardware");
  // Only the exact name is software.
  EXPECT_EQ(encoder_kind("X264ENC"), "hardware");
  EXPECT_EQ(encoder_kind("x264enc "), "hardware");
  EXPECT_EQ(encoder_kind(""), "hardware");
  for (const auto& candidate : kEncoderCandidates) {
    EXPECT_EQ(encoder_kind(candidate.element), candidate.kind) << candidate.element;
  }
}

TEST(EncoderCatalogue, RateControlModes) {
  EXPECT_EQ(kRateControlQuality, "constrained-vbr");
  EXPECT_EQ(kRateControlCbrFallback, "cbr-fallback");
  EXPECT_TRUE(uses_quality_mode("constrained-vbr"));
  EXPECT_FALSE(uses_quality_mode("cbr-fallback"));
  EXPECT_FALSE(uses_quality_mode(""));
  EXPECT_FALSE(uses_quality_mode("constrained-vbr "));
  EXPECT_FALSE(uses_quality_mode("Constrained-VBR"));
  EXPECT_FALSE(uses_quality_mode("vbr"));
}

TEST(EncoderCatalogue, H264ProfileIsHighOnlyForNvidiaInQualityMode) {
  EXPECT_EQ(h264_profile_for("nvd3d11h264enc", true), "high");
  EXPECT_EQ(h264_profile_for("nvd3d11h264enc", false), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("qsvh264enc", true), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("amfh264enc", true), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("mfh264enc", true), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("x264enc", true), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("NVD3D11H264ENC", true), "constrained-baseline");
  EXPECT_EQ(h264_profile_for("", true), "constrained-baseline");
}

// --- Encoder descriptions ---

std::string description(std::string_view element, std::uint32_t bitrate, std::uint32_t gop, bool quality) {
  auto built = build_encoder_description(element, bitrate, gop, quality);
  return built ? built.value() : "error: " + built.error();
}

TEST(EncoderDescription, X264) {
  EXPECT_EQ(description("x264enc", 1300, 60, false),
            "x264enc name=video_encoder bitrate=1300 pass=cbr tune=zerolatency speed-preset=veryfast "
            "key-int-max=60 bframes=0");
  EXPECT_EQ(description("x264enc", 1300, 60, true),
            "x264enc name=video_encoder bitrate=1300 pass=qual quantizer=24 tune=zerolatency "
            "speed-preset=veryfast key-int-max=60 bframes=0");
}

TEST(EncoderDescription, MediaFoundation) {
  EXPECT_EQ(description("mfh264enc", 3200, 120, false),
            "mfh264enc name=video_encoder bitrate=3200 rc-mode=cbr low-latency=true gop-size=120 bframes=0");
  EXPECT_EQ(description("mfh264enc", 3200, 120, true),
            "mfh264enc name=video_encoder bitrate=3200 max-bitrate=3200 rc-mode=qvbr low-latency=true "
            "gop-size=120 bframes=0");
}

TEST(EncoderDescription, Amf) {
  EXPECT_EQ(description("amfh264enc", 2200, 60, false),
            "amfh264enc name=video_encoder bitrate=2200 rate-control=cbr usage=ultra-low-latency "
            "preset=balanced gop-size=60");
  EXPECT_EQ(description("amfh264enc", 2200, 60, true),
            "amfh264enc name=video_encoder bitrate=2200 max-bitrate=2200 rate-control=lcvbr "
            "usage=ultra-low-latency preset=balanced gop-size=60");
}

TEST(EncoderDescription, QuickSync) {
  EXPECT_EQ(description("qsvh264enc", 4500, 90, false),
            "qsvh264enc name=video_encoder bitrate=4500 rate-control=cbr gop-size=90 b-frames=0");
  EXPECT_EQ(description("qsvh264enc", 4500, 90, true),
            "qsvh264enc name=video_encoder bitrate=4500 max-bitrate=4500 rate-control=qvbr qvbr-quality=23 "
            "gop-size=90 b-frames=0");
}

TEST(EncoderDescription, Nvidia) {
  EXPECT_EQ(description("nvd3d11h264enc", 6000, 120, false),
            "nvd3d11h264enc name=video_encoder bitrate=6000 rc-mode=cbr tune=ultra-low-latency preset=p4 "
            "gop-size=120 zerolatency=true");
  EXPECT_EQ(description("nvd3d11h264enc", 6000, 120, true),
            "nvd3d11h264enc name=video_encoder bitrate=6000 max-bitrate=6000 vbv-buffer-size=3000 rc-mode=vbr "
            "const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter cabac=true bframes=0 "
            "gop-size=120 zerolatency=true min-force-key-unit-interval=500000000");
}

TEST(EncoderDescription, NvidiaVbvBufferIsHalfTheBitrateRoundedDown) {
  EXPECT_EQ(description("nvd3d11h264enc", 2201, 60, true),
            "nvd3d11h264enc name=video_encoder bitrate=2201 max-bitrate=2201 vbv-buffer-size=1100 rc-mode=vbr "
            "const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter cabac=true bframes=0 "
            "gop-size=60 zerolatency=true min-force-key-unit-interval=500000000");
  EXPECT_EQ(description("nvd3d11h264enc", 1, 2, true),
            "nvd3d11h264enc name=video_encoder bitrate=1 max-bitrate=1 vbv-buffer-size=0 rc-mode=vbr "
            "const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter cabac=true bframes=0 "
            "gop-size=2 zerolatency=true min-force-key-unit-interval=500000000");
}

TEST(EncoderDescription, NumbersAreUnsignedDecimalAtBothExtremes) {
  EXPECT_EQ(description("qsvh264enc", 0, 0, false),
            "qsvh264enc name=video_encoder bitrate=0 rate-control=cbr gop-size=0 b-frames=0");
  EXPECT_EQ(description("qsvh264enc", kMax32, kMax32, false),
            "qsvh264enc name=video_encoder bitrate=4294967295 rate-control=cbr gop-size=4294967295 b-frames=0");
  EXPECT_EQ(description("nvd3d11h264enc", kMax32, kMax32, true),
            "nvd3d11h264enc name=video_encoder bitrate=4294967295 max-bitrate=4294967295 "
            "vbv-buffer-size=2147483647 rc-mode=vbr const-quality=23 tune=low-latency preset=p5 "
            "multi-pass=two-pass-quarter cabac=true bframes=0 gop-size=4294967295 zerolatency=true "
            "min-force-key-unit-interval=500000000");
}

TEST(EncoderDescription, EveryCatalogueEncoderIsDescribedUnderItsOwnName) {
  for (const auto& candidate : kEncoderCandidates) {
    for (bool quality : {false, true}) {
      auto built = build_encoder_description(candidate.element, 2000, 60, quality);
      ASSERT_TRUE(built.ok()) << candidate.element;
      EXPECT_EQ(built->rfind(std::string(candidate.element) + " name=video_encoder bitrate=2000 ", 0), 0u) << *built;
      EXPECT_EQ(built->find('{'), std::string::npos) << *built;
    }
  }
}

TEST(EncoderDescription, UnknownElementsAreRefused) {
  for (std::string_view element :
       {std::string_view("X264ENC"), std::string_view("x264enc "), std::string_view(" x264enc"), std::string_view(""),
        std::string_view("nvh264enc"), std::string_view("Nvd3d11h264enc"), std::string_view("x264"),
        std::string_view("x264enc\0", 8)}) {
    for (bool quality : {false, true}) {
      auto built = build_encoder_description(element, 2000, 60, quality);
      ASSERT_FALSE(built.ok()) << '"' << element << '"';
      EXPECT_EQ(built.error(), "selected video encoder is unsupported");
    }
  }
  EXPECT_EQ(kUnsupportedEncoderMessage, "selected video encoder is unsupported");
}

// --- Key-frame interval ---

TEST(GopFrames, TwoSecondsOfFrames) {
  EXPECT_EQ(gop_frames(0), 0u);
  EXPECT_EQ(gop_frames(1), 2u);
  EXPECT_EQ(gop_frames(15), 30u);
  EXPECT_EQ(gop_frames(30), 60u);
  EXPECT_EQ(gop_frames(60), 120u);
}

TEST(GopFrames, SaturatesInsteadOfWrapping) {
  EXPECT_EQ(gop_frames(2147483647u), 4294967294u);
  EXPECT_EQ(gop_frames(2147483648u), kMax32);
  EXPECT_EQ(gop_frames(kMax32), kMax32);
}

// --- Rendition ladder ---

using Ladder = std::array<Rendition, 2>;

TEST(RenditionLadder, Landscape1080p60) {
  EXPECT_EQ(rendition_ladder(1920, 1080, 60),
            (Ladder{Rendition{"q", 640, 360, 15, 260, 30}, Rendition{"h", 1280, 720, 30, 900, 60}}));
}

TEST(RenditionLadder, Landscape720p30) {
  EXPECT_EQ(rendition_ladder(1280, 720, 30),
            (Ladder{Rendition{"q", 320, 180, 15, 100, 30}, Rendition{"h", 640, 360, 30, 260, 60}}));
}

TEST(RenditionLadder, PortraitScalesByTheWidth) {
  EXPECT_EQ(rendition_ladder(1080, 1920, 60),
            (Ladder{Rendition{"q", 360, 640, 15, 260, 30}, Rendition{"h", 720, 1280, 30, 900, 60}}));
}

TEST(RenditionLadder, ShortSideBands) {
  // Square sources show the chosen short sides directly.
  EXPECT_EQ(rendition_ladder(1080, 1080, 30),
            (Ladder{Rendition{"q", 360, 360, 15, 260, 30}, Rendition{"h", 720, 720, 30, 900, 60}}));
  EXPECT_EQ(rendition_ladder(1079, 1079, 30),
            (Ladder{Rendition{"q", 180, 180, 15, 100, 30}, Rendition{"h", 360, 360, 30, 260, 60}}));
  EXPECT_EQ(rendition_ladder(540, 540, 30),
            (Ladder{Rendition{"q", 180, 180, 15, 100, 30}, Rendition{"h", 360, 360, 30, 260, 60}}));
  EXPECT_EQ(rendition_ladder(539, 539, 30),
            (Ladder{Rendition{"q", 180, 180, 15, 100, 30}, Rendition{"h", 240, 240, 30, 100, 60}}));
  EXPECT_EQ(rendition_ladder(360, 360, 30),
            (Ladder{Rendition{"q", 180, 180, 15, 100, 30}, Rendition{"h", 240, 240, 30, 100, 60}}));
  EXPECT_EQ(rendition_ladder(359, 359, 30),
            (Ladder{Rendition{"q", 90, 90, 15, 100, 30}, Rendition{"h", 120, 120, 30, 100, 60}}));
  // Sources larger than 1080p keep the top band.
  EXPECT_EQ(rendition_ladder(3840, 2160, 60),
            (Ladder{Rendition{"q", 640, 360, 15, 260, 30}, Rendition{"h", 1280, 720, 30, 900, 60}}));
}

TEST(RenditionLadder, SmallSourcesAreScaledUpToTheLowestBand) {
  // 320×240: short sides 90 and 120.
  EXPECT_EQ(rendition_ladder(320, 240, 30),
            (Ladder{Rendition{"q", 120, 90, 15, 100, 30}, Rendition{"h", 160, 120, 30, 100, 60}}));
}

TEST(RenditionLadder, OddResultsAreRoundedDownToEven) {
  // 1000×540: 180 × 1000 / 540 = 333.3 → 333 → 332; 360 × 1000 / 540 = 666.7 → 666.
  EXPECT_EQ(rendition_ladder(1000, 540, 60),
            (Ladder{Rendition{"q", 332, 180, 15, 100, 30}, Rendition{"h", 666, 360, 30, 260, 60}}));
  // 1001×601 at 25: 180 × 1001 / 601 = 299.8 → 298; 360 × 1001 / 601 = 599.6 → 598; 25 frames kept by "h".
  EXPECT_EQ(rendition_ladder(1001, 601, 25),
            (Ladder{Rendition{"q", 298, 180, 15, 100, 30}, Rendition{"h", 598, 360, 25, 260, 50}}));
  // Portrait 601×1001: the same on the other side.
  EXPECT_EQ(rendition_ladder(601, 1001, 25),
            (Ladder{Rendition{"q", 180, 298, 15, 100, 30}, Rendition{"h", 360, 598, 25, 260, 50}}));
}

TEST(RenditionLadder, FrameRatesBelowTheCapsAreKept) {
  EXPECT_EQ(rendition_ladder(1920, 1080, 10),
            (Ladder{Rendition{"q", 640, 360, 10, 260, 20}, Rendition{"h", 1280, 720, 10, 900, 20}}));
  EXPECT_EQ(rendition_ladder(1920, 1080, 15),
            (Ladder{Rendition{"q", 640, 360, 15, 260, 30}, Rendition{"h", 1280, 720, 15, 900, 30}}));
  EXPECT_EQ(rendition_ladder(1920, 1080, 0),
            (Ladder{Rendition{"q", 640, 360, 0, 260, 0}, Rendition{"h", 1280, 720, 0, 900, 0}}));
}

TEST(RenditionLadder, AZeroSideGivesTwoByTwo) {
  EXPECT_EQ(rendition_ladder(0, 0, 30), (Ladder{Rendition{"q", 2, 2, 15, 100, 30}, Rendition{"h", 2, 2, 30, 100, 60}}));
  EXPECT_EQ(rendition_ladder(1920, 0, 60),
            (Ladder{Rendition{"q", 2, 2, 15, 100, 30}, Rendition{"h", 2, 2, 30, 100, 60}}));
  EXPECT_EQ(rendition_ladder(0, 1080, 60),
            (Ladder{Rendition{"q", 2, 2, 15, 100, 30}, Rendition{"h", 2, 2, 30, 100, 60}}));
}

TEST(RenditionLadder, HugeSidesDoNotOverflow) {
  // 360 × 4294967295 does not fit in 32 bits; 4294967295 / 3 = 1431655765 → 1431655764.
  EXPECT_EQ(rendition_ladder(kMax32, 1080, 60),
            (Ladder{Rendition{"q", 1431655764, 360, 15, 260, 30}, Rendition{"h", 2863311530, 720, 30, 900, 60}}));
  // A 1-pixel short side scales by 90 and 120: clamped to the largest even 32-bit value.
  EXPECT_EQ(rendition_ladder(kMax32, 1, 30),
            (Ladder{Rendition{"q", 4294967294, 90, 15, 100, 30}, Rendition{"h", 4294967294, 120, 30, 100, 60}}));
}

}  // namespace
}  // namespace corvane::helper
