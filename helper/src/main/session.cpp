#include "main/session.h"

#include <optional>
#include <utility>
#include <variant>

namespace corvane::helper {

namespace {

using protocol::HelperEnvelope;
using protocol::HelperErrorCode;
namespace status_word = protocol::status_word;

// How long a client that left inside a frame is given to turn out to be a parent that is exiting.
constexpr std::chrono::milliseconds kParentExitGrace{1000};

// How the command loop ended: the client went away, or an error that ends the helper.
struct ClientGone {};
using LoopEnd = std::variant<ClientGone, std::string>;

// Writes one frame to the client.
Status write_reply(protocol::FrameStream& pipe, const HelperEnvelope& envelope) {
  auto written = protocol::write_frame(pipe, envelope);
  if (!written) {
    return fail("write helper response: " + written.error().message);
  }
  return Done{};
}

// The first frame must authenticate the client; nothing else exists yet.
Status authenticate_client(protocol::FrameStream& pipe, const LaunchConfig& config) {
  auto frame = protocol::read_frame(pipe, protocol::Sender::client);
  if (!frame) {
    return fail("read authentication command: " + frame.error().message);
  }
  if (std::holds_alternative<protocol::Disconnected>(*frame)) {
    return fail("client disconnected before authentication");
  }
  const HelperEnvelope& envelope = std::get<HelperEnvelope>(*frame);
  if (envelope.contract_version != protocol::kContractVersion || !request_id_valid(envelope.request_id)) {
    return fail("authentication envelope is invalid");
  }
  const auto* authenticate = std::get_if<protocol::Authenticate>(&envelope.payload);
  if (authenticate == nullptr) {
    (void)write_reply(pipe, protocol::error_reply(envelope.request_id, HelperErrorCode::authentication_required));
    return fail("Authenticate was not the first helper command");
  }
  const bool parent_matches = authenticate->parent_process_id == config.parent_pid;
  const bool nonce_ok = nonce_matches(authenticate->nonce, config.nonce);
  if (!(parent_matches && nonce_ok)) {
    (void)write_reply(pipe, protocol::error_reply(envelope.request_id, HelperErrorCode::authentication_failed));
    return fail("helper authentication failed");
  }
  return write_reply(pipe, protocol::status_reply(envelope.request_id, status_word::authenticated));
}

// One of the two chord functions: its monitor slot, its channel and its words.
struct ChordFunction {
  std::pair<EventSender<ChordTransition>, EventReceiver<ChordTransition>> channel;
  std::unique_ptr<ChordMonitorHandle> monitor;
  std::string_view enabled_word;
  std::string_view disabled_word;
  HelperErrorCode error_code;

  void stop_monitor() {
    if (monitor) {
      monitor->stop();
      monitor.reset();
    }
  }
};

// The serving state of an authenticated connection.
class Session {
 public:
  Session(protocol::FrameStream& pipe, const LaunchConfig& config, SessionServices& services)
      : pipe_(pipe), config_(config), services_(services) {}

  LoopEnd command_loop() {
    for (;;) {
      // Before anything is read or written: a parent that has gone leaves nobody to serve.
      if (services_.parent_ended(std::chrono::milliseconds(0))) {
        return ClientGone{};
      }
      if (const Status forwarded = forward_chord_events(
              microphone_,
              [](const ChordTransition& t) { return protocol::event(protocol::MicrophoneShortcutEvent{t}); });
          !forwarded) {
        return forwarded.error();
      }
      if (const Status forwarded = forward_chord_events(
              ptt_, [](const ChordTransition& t) { return protocol::event(protocol::GlobalPttEvent{t}); });
          !forwarded) {
        return forwarded.error();
      }
      if (const Status forwarded = forward_supervision(); !forwarded) {
        return forwarded.error();
      }
      auto incoming = receiver_.receive(pipe_, protocol::Sender::client);
      if (!incoming) {
        const protocol::ReceiveError& error = incoming.error();
        // A parent that dies closes its end before its process counts as ended: a frame cut off by
        // its death is its leaving, not a failure.
        if (error.client_left && services_.parent_ended(kParentExitGrace)) {
          return ClientGone{};
        }
        return (error.step == protocol::ReceiveStep::poll ? "poll named pipe: " : "read helper command: ") +
               error.error.message;
      }
      if (std::holds_alternative<protocol::NotReady>(*incoming)) {
        services_.idle_wait();
        continue;
      }
      if (std::holds_alternative<protocol::Disconnected>(*incoming)) {
        return ClientGone{};
      }
      if (const Status answered = dispatch_command(std::get<HelperEnvelope>(*incoming)); !answered) {
        return answered.error();
      }
    }
  }

  // Clean end: monitors, broadcast, channels, engine; the caller closes the pipe last.
  void shutdown_after_client_left() {
    ptt_.stop_monitor();
    microphone_.stop_monitor();
    services_.stop_broadcast();
    ptt_.channel.second.release();
    microphone_.channel.second.release();
    services_.release_media();
  }

  // End after an error: each monitor with its channel, then the engine; the caller closes the pipe.
  void shutdown_after_error() {
    microphone_.stop_monitor();
    microphone_.channel.second.release();
    ptt_.stop_monitor();
    ptt_.channel.second.release();
    services_.release_media();
  }

 private:
  template <class MakeEvent>
  // Sends the chord's transitions that are waiting, in order.
  Status forward_chord_events(ChordFunction& function, MakeEvent make_event) {
    while (auto transition = function.channel.second.try_receive()) {
      if (Status written = write_reply(pipe_, make_event(*transition)); !written) {
        return written;
      }
    }
    return Done{};
  }

  // One supervision step, and the event it gave (if any) sent to the client.
  Status forward_supervision() {
    SupervisionEvent event = services_.supervise_broadcast();
    return std::visit(
        [&](auto& value) -> Status {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            return Done{};
          } else if constexpr (std::is_same_v<T, BroadcastEnded>) {
            return write_reply(pipe_, protocol::status_event(status_word::ended));
          } else if constexpr (std::is_same_v<T, BroadcastFailed>) {
            return write_reply(pipe_,
                               protocol::error_event(HelperErrorCode::media_pipeline_failed, std::move(value.message)));
          } else if constexpr (std::is_same_v<T, protocol::BroadcastRecovery>) {
            return write_reply(pipe_, protocol::recovery_event(std::move(value.component), std::move(value.detail)));
          } else {
            return write_reply(pipe_, protocol::event(std::move(value)));
          }
        },
        event);
  }

  // Answers one command; a failure ends the connection with its error.
  Status dispatch_command(const HelperEnvelope& envelope) {
    if (envelope.contract_version != protocol::kContractVersion) {
      return write_reply(pipe_,
                         protocol::error_reply(envelope.request_id, HelperErrorCode::contract_version_unsupported));
    }
    if (!request_id_valid(envelope.request_id)) {
      return fail("request ID is invalid");
    }
    std::optional<HelperEnvelope> reply = std::visit(
        [&](const auto& command) -> std::optional<HelperEnvelope> {
          if constexpr (requires { answer(envelope.request_id, command); }) {
            return answer(envelope.request_id, command);
          } else {
            return std::nullopt;  // a message only the helper sends: the client decoder never yields one
          }
        },
        envelope.payload);
    if (!reply) {
      return fail("read helper command: " +
                  std::string(protocol::proto_error_message(protocol::ProtoError::envelope_command_missing)));
    }
    if (Status written = write_reply(pipe_, *reply); !written) {
      return written;
    }
    if (auto event = std::exchange(follow_up_, std::nullopt)) {
      return write_reply(pipe_, *event);
    }
    return Done{};
  }

  HelperEnvelope answer(const std::string& id, const protocol::Authenticate& /*command*/) {
    return protocol::error_reply(id, HelperErrorCode::already_authenticated);
  }

  HelperEnvelope answer(const std::string& id, const protocol::GetMediaCapabilities& /*command*/) {
    return protocol::reply(id, services_.build_media_capabilities());
  }

  HelperEnvelope answer(const std::string& id, const protocol::ListCaptureSources& /*command*/) {
    auto sources = services_.list_capture_sources();
    if (!sources) {
      return protocol::error_reply(id, HelperErrorCode::capture_source_enumeration_failed, sources.error());
    }
    return protocol::reply(id, protocol::CaptureSourceList{std::move(sources).value()});
  }

  HelperEnvelope answer(const std::string& id, const protocol::StartBroadcast& command) {
    auto started = services_.start_broadcast(command, config_.parent_pid);
    if (!started) {
      return protocol::error_reply(id, HelperErrorCode::broadcast_start_failed, started.error());
    }
    const bool without_system_audio = command.system_audio && !started->system_audio_active;
    return protocol::status_reply(
        id, without_system_audio ? status_word::broadcasting_without_system_audio : status_word::broadcasting,
        started->encoder);
  }

  HelperEnvelope answer(const std::string& id, const protocol::UpdateBroadcastProfile& command) {
    ProfileUpdate update = services_.update_broadcast_profile(command);
    if (!update.encoder) {
      if (update.broadcast_lost) {
        // The reply alone would leave the client believing its broadcast goes on.
        follow_up_ = protocol::error_event(HelperErrorCode::media_pipeline_failed, update.encoder.error());
      }
      return protocol::error_reply(id, HelperErrorCode::broadcast_profile_update_failed, update.encoder.error());
    }
    return protocol::status_reply(id, status_word::broadcasting, *update.encoder);
  }

  HelperEnvelope answer(const std::string& id, const protocol::StopBroadcast& /*command*/) {
    services_.stop_broadcast();
    return protocol::status_reply(id, status_word::idle);
  }

  HelperEnvelope answer(const std::string& id, const protocol::ConfigureGlobalPtt& command) {
    return configure(id, ptt_, command);
  }

  HelperEnvelope answer(const std::string& id, const protocol::ConfigureMicrophoneShortcut& command) {
    return configure(id, microphone_, command);
  }

  // The running monitor is stopped first in every case, so a rejected configuration leaves the
  // function disabled.
  HelperEnvelope configure(const std::string& id, ChordFunction& function,
                           const protocol::KeyChordConfiguration& command) {
    function.stop_monitor();
    if (!command.enabled) {
      return protocol::status_reply(id, function.disabled_word);
    }
    auto monitor = services_.start_key_chord_monitor(command.chord(), function.channel.first);
    if (!monitor) {
      return protocol::error_reply(id, function.error_code, monitor.error());
    }
    function.monitor = std::move(monitor).value();
    return protocol::status_reply(id, function.enabled_word);
  }

  protocol::FrameStream& pipe_;
  const LaunchConfig& config_;
  SessionServices& services_;
  protocol::FrameReceiver receiver_;
  // An event that belongs right after the reply being written (a broadcast lost in a profile update).
  std::optional<HelperEnvelope> follow_up_;
  ChordFunction ptt_{make_event_channel<ChordTransition>(), nullptr, status_word::global_ptt_enabled,
                     status_word::global_ptt_disabled, HelperErrorCode::global_ptt_configuration_failed};
  ChordFunction microphone_{make_event_channel<ChordTransition>(), nullptr, status_word::microphone_shortcut_enabled,
                            status_word::microphone_shortcut_disabled, HelperErrorCode::microphone_shortcut_failed};
};

}  // namespace

bool request_id_valid(std::string_view request_id) {
  if (request_id.empty() || request_id.size() > 128) {
    return false;
  }
  for (const char c : request_id) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '_' || c == ':' || c == '-';
    if (!allowed) {
      return false;
    }
  }
  return true;
}

bool nonce_matches(std::span<const std::uint8_t> presented, const std::array<std::uint8_t, 32>& expected) {
  if (presented.size() != expected.size()) {
    return false;
  }
  // The accumulator is volatile so that the compiler cannot stop at the first difference.
  volatile std::uint8_t difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference = static_cast<std::uint8_t>(difference | (presented[i] ^ expected[i]));
  }
  return difference == 0;
}

Status run_session(protocol::FrameStream& pipe, const std::function<void()>& close_pipe, const LaunchConfig& config,
                   SessionServices& services) {
  if (auto authenticated = authenticate_client(pipe, config); !authenticated) {
    close_pipe();
    return authenticated;
  }
  services.load_media_runtime();
  LoopEnd end;
  {
    Session session(pipe, config, services);
    end = session.command_loop();
    if (std::holds_alternative<ClientGone>(end)) {
      session.shutdown_after_client_left();
    } else {
      session.shutdown_after_error();
    }
  }
  close_pipe();
  if (auto* error = std::get_if<std::string>(&end)) {
    return fail(std::move(*error));
  }
  return Done{};
}

}  // namespace corvane::helper
