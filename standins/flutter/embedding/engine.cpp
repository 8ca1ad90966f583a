// The stand-in engine: messenger, registrars, frames and the test bridge.
#include "engine.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace flutter_standin {
namespace {

// The private message telling the platform thread that the reader queued frames.
constexpr UINT kDrainMessage = WM_APP + 0x0F2;

constexpr wchar_t kDispatchClassName[] = L"CorvaneFlutterStandInDispatch";

// The value of an environment variable, empty when unset.
std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[64];
  const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) {
    return {};
  }
  return std::wstring(buffer, length);
}

// The bridge port from the environment; none when unset or not a port number.
std::optional<uint16_t> BridgePort() {
  const std::wstring text = Environment(L"CORVANE_FLUTTER_BRIDGE_PORT");
  if (text.empty()) {
    return std::nullopt;
  }
  unsigned long port = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9' || port > 65535) {
      port = 0;
      break;
    }
    port = port * 10 + static_cast<unsigned long>(c - L'0');
  }
  if (port == 0 || port > 65535) {
    std::fprintf(stderr, "flutter stand-in: CORVANE_FLUTTER_BRIDGE_PORT is not a port number; no bridge\n");
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

// The integer at index of a frame (int32 or int64).
std::optional<int64_t> IntegerAt(const flutter::EncodableList& frame, size_t index) {
  if (index >= frame.size()) {
    return std::nullopt;
  }
  if (const auto* small = std::get_if<int32_t>(&frame[index])) {
    return *small;
  }
  if (const auto* large = std::get_if<int64_t>(&frame[index])) {
    return *large;
  }
  return std::nullopt;
}

template <typename Alternative>
const Alternative* At(const flutter::EncodableList& frame, size_t index) {
  return index < frame.size() ? std::get_if<Alternative>(&frame[index]) : nullptr;
}

// Routes the platform thread's private messages to the engine stored with the window.
LRESULT CALLBACK DispatchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kDrainMessage) {
    auto* engine = reinterpret_cast<FlutterDesktopEngine*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (engine != nullptr) {
      engine->DrainInbox();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterDispatchClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = DispatchWindowProc;
    window_class.hInstance = ThisModule();
    window_class.lpszClassName = kDispatchClassName;
    return RegisterClassExW(&window_class) != 0;
  }();
  return registered;
}

}  // namespace

HINSTANCE ThisModule() {
  static const int anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace flutter_standin

using flutter::EncodableList;
using flutter::EncodableValue;

FlutterDesktopEngine::FlutterDesktopEngine(const FlutterDesktopEngineProperties& properties)
    : assets_path_(properties.assets_path != nullptr ? properties.assets_path : L""),
      icu_data_path_(properties.icu_data_path != nullptr ? properties.icu_data_path : L""),
      aot_library_path_(properties.aot_library_path != nullptr ? properties.aot_library_path : L""),
      entrypoint_(properties.dart_entrypoint != nullptr ? properties.dart_entrypoint : ""),
      messenger_(new FlutterDesktopMessenger) {
  for (int i = 0; i < properties.dart_entrypoint_argc && properties.dart_entrypoint_argv != nullptr; ++i) {
    const char* argument = properties.dart_entrypoint_argv[i];
    arguments_.emplace_back(argument != nullptr ? argument : "");
  }
  messenger_->engine = this;
  bridge_port_ = flutter_standin::BridgePort();
  hold_first_frame_ = flutter_standin::Environment(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME") == L"1";
  refuse_to_run_ = flutter_standin::Environment(L"CORVANE_FLUTTER_FAIL_ENGINE") == L"1";

  if (flutter_standin::RegisterDispatchClass()) {
    dispatch_window_ = CreateWindowExW(0, flutter_standin::kDispatchClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                       nullptr, flutter_standin::ThisModule(), nullptr);
  }
  if (dispatch_window_ != nullptr) {
    SetWindowLongPtrW(dispatch_window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
}

FlutterDesktopEngine::~FlutterDesktopEngine() {
  for (const auto& [name, registrar] : registrars_) {
    if (registrar->destruction_handler != nullptr) {
      registrar->destruction_handler(registrar.get());
    }
  }
  std::unique_ptr<flutter_standin::Bridge> bridge;
  {
    const std::lock_guard<std::mutex> lock(outgoing_mutex_);
    bridge = std::move(bridge_);
    bridge_port_.reset();
  }
  bridge.reset();  // joins the reader, which posts to the window below
  if (dispatch_window_ != nullptr) {
    SetWindowLongPtrW(dispatch_window_, GWLP_USERDATA, 0);
    DestroyWindow(dispatch_window_);
  }
  {
    const std::lock_guard<std::mutex> lock(messenger_->lock);
    messenger_->engine = nullptr;
  }
  FlutterDesktopMessengerRelease(messenger_);
}

bool FlutterDesktopEngine::Run(const char* entry_point) {
  if (running_) {
    return false;
  }
  if (refuse_to_run_) {
    std::fprintf(stderr, "flutter stand-in: the engine refuses to run (CORVANE_FLUTTER_FAIL_ENGINE=1)\n");
    return false;
  }
  if (dispatch_window_ == nullptr) {
    std::fprintf(stderr, "flutter stand-in: the engine cannot run: its window could not be created\n");
    return false;
  }
  running_ = true;
  if (entry_point != nullptr) {
    entrypoint_ = entry_point;
  }
  if (!bridge_port_) {
    // Nobody could release a held first frame: the host's window would never show.
    hold_first_frame_ = false;
    return true;
  }
  std::unique_ptr<flutter_standin::Bridge> bridge =
      flutter_standin::Bridge::Connect(*bridge_port_, [this](EncodableList frame) {
        {
          const std::lock_guard<std::mutex> lock(inbox_mutex_);
          inbox_.push_back(std::move(frame));
        }
        PostMessageW(dispatch_window_, flutter_standin::kDrainMessage, 0, 0);
      });
  const std::lock_guard<std::mutex> lock(outgoing_mutex_);
  bridge_port_.reset();
  std::vector<EncodableList> unsent = std::move(unsent_frames_);
  unsent_frames_.clear();
  if (!bridge) {
    hold_first_frame_ = false;
    return true;  // the host runs on without the application
  }
  EncodableList arguments;
  for (const std::string& argument : arguments_) {
    arguments.emplace_back(argument);
  }
  bridge->Send(EncodableList{EncodableValue("hello"), EncodableValue(flutter_standin::Utf8(assets_path_)),
                             EncodableValue(flutter_standin::Utf8(icu_data_path_)),
                             EncodableValue(flutter_standin::Utf8(aot_library_path_)), EncodableValue(arguments)});
  for (const EncodableList& frame : unsent) {
    bridge->Send(frame);
  }
  bridge_ = std::move(bridge);
  return true;
}

bool FlutterDesktopEngine::SendFrame(const EncodableList& frame) {
  const std::lock_guard<std::mutex> lock(outgoing_mutex_);
  if (bridge_) {
    return bridge_->Send(frame);
  }
  if (bridge_port_) {
    unsent_frames_.push_back(frame);
    return true;
  }
  return false;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngine::Registrar(const char* plugin_name) {
  const std::string name = plugin_name != nullptr ? plugin_name : "";
  std::unique_ptr<FlutterDesktopPluginRegistrar>& registrar = registrars_[name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = this;
    registrar->plugin_name = name;
  }
  SendFrame(EncodableList{EncodableValue("registrar"), EncodableValue(name)});
  return registrar.get();
}

void FlutterDesktopEngine::ReportPluginRegistered(FlutterDesktopPluginRegistrarRef registrar,
                                                  const char* library_name) {
  SendFrame(EncodableList{EncodableValue("plugin"), EncodableValue(registrar->plugin_name),
                          EncodableValue(std::string(library_name != nullptr ? library_name : ""))});
}

void FlutterDesktopEngine::ReloadSystemFonts() { SendFrame(EncodableList{EncodableValue("reload-system-fonts")}); }

bool FlutterDesktopEngine::Send(const char* channel, const uint8_t* message, size_t message_size,
                                FlutterDesktopBinaryReply reply, void* user_data) {
  const int64_t reply_id = reply != nullptr ? next_reply_id_++ : 0;
  if (reply != nullptr) {
    const std::lock_guard<std::mutex> lock(replies_mutex_);
    pending_replies_[reply_id] = PendingReply{reply, user_data};
  }
  std::vector<uint8_t> bytes;
  if (message != nullptr) {
    bytes.assign(message, message + message_size);
  }
  const bool sent = SendFrame(EncodableList{EncodableValue("message"), EncodableValue(std::string(channel)),
                                            EncodableValue(std::move(bytes)), EncodableValue(reply_id)});
  if (!sent && reply != nullptr) {
    const std::lock_guard<std::mutex> lock(replies_mutex_);
    pending_replies_.erase(reply_id);
  }
  return sent;
}

void FlutterDesktopEngine::SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                        size_t data_length) {
  int64_t reply_id = 0;
  {
    const std::lock_guard<std::mutex> lock(responses_mutex_);
    const auto open = open_responses_.find(handle);
    if (open == open_responses_.end()) {
      std::fprintf(stderr, "flutter stand-in: a response to an unknown or already answered message; ignored\n");
      return;
    }
    reply_id = open->second->reply_id;
    open_responses_.erase(open);
  }
  if (reply_id == 0) {
    return;  // the application wants no answer
  }
  std::vector<uint8_t> bytes;
  if (data != nullptr) {
    bytes.assign(data, data + data_length);
  }
  SendFrame(EncodableList{EncodableValue("response"), EncodableValue(reply_id), EncodableValue(std::move(bytes))});
}

void FlutterDesktopEngine::SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data) {
  if (callback == nullptr) {
    callbacks_.erase(channel);
  } else {
    callbacks_[channel] = ChannelCallback{callback, user_data};
  }
}

void FlutterDesktopEngine::SetNextFrameCallback(VoidCallback callback, void* user_data) {
  next_frame_callback_ = callback;
  next_frame_user_data_ = user_data;
}

void FlutterDesktopEngine::RequestFrame() {
  if (view_window_ != nullptr) {
    PostMessageW(view_window_, flutter_standin::kFrameMessage, 0, 0);
  }
}

void FlutterDesktopEngine::RenderFrame() {
  if (hold_first_frame_) {
    frame_held_ = true;
    return;
  }
  if (view_window_ != nullptr) {
    InvalidateRect(view_window_, nullptr, FALSE);
  }
  if (next_frame_callback_ == nullptr) {
    return;
  }
  // Cleared before the call: the callback may set the next one.
  const VoidCallback callback = next_frame_callback_;
  void* const user_data = next_frame_user_data_;
  next_frame_callback_ = nullptr;
  next_frame_user_data_ = nullptr;
  callback(user_data);
  SendFrame(EncodableList{EncodableValue("first-frame-shown")});
}

void FlutterDesktopEngine::ReleaseFirstFrame() {
  if (!hold_first_frame_) {
    return;
  }
  hold_first_frame_ = false;
  if (frame_held_) {
    frame_held_ = false;
    RenderFrame();
  }
}

void FlutterDesktopEngine::DrainInbox() {
  // One frame at a time, so that a callback that pumps messages keeps the order.
  for (;;) {
    EncodableList frame;
    {
      const std::lock_guard<std::mutex> lock(inbox_mutex_);
      if (inbox_.empty()) {
        return;
      }
      frame = std::move(inbox_.front());
      inbox_.pop_front();
    }
    HandleFrame(frame);
  }
}

void FlutterDesktopEngine::HandleFrame(const EncodableList& frame) {
  const std::string& kind = std::get<std::string>(frame.front());
  if (kind == "message") {
    const auto* channel = flutter_standin::At<std::string>(frame, 1);
    const auto* bytes = flutter_standin::At<std::vector<uint8_t>>(frame, 2);
    const std::optional<int64_t> reply_id = flutter_standin::IntegerAt(frame, 3);
    if (channel != nullptr && bytes != nullptr && reply_id) {
      DeliverMessage(*channel, *bytes, *reply_id);
      return;
    }
  } else if (kind == "response") {
    const std::optional<int64_t> reply_id = flutter_standin::IntegerAt(frame, 1);
    const auto* bytes = flutter_standin::At<std::vector<uint8_t>>(frame, 2);
    if (reply_id && bytes != nullptr) {
      DeliverReply(*reply_id, *bytes);
      return;
    }
  } else if (kind == "first-frame") {
    ReleaseFirstFrame();
    return;
  }
  std::fprintf(stderr, "flutter stand-in: bridge: ignoring a malformed or unknown frame \"%s\"\n", kind.c_str());
}

void FlutterDesktopEngine::DeliverMessage(const std::string& channel, const std::vector<uint8_t>& bytes,
                                          int64_t reply_id) {
  const auto found = callbacks_.find(channel);
  if (found == callbacks_.end()) {
    // No handler: an empty answer, as Flutter gives.
    if (reply_id != 0) {
      SendFrame(
          EncodableList{EncodableValue("response"), EncodableValue(reply_id), EncodableValue(std::vector<uint8_t>())});
    }
    return;
  }
  const ChannelCallback callback = found->second;
  auto response = std::make_unique<_FlutterPlatformMessageResponseHandle>();
  response->reply_id = reply_id;
  const _FlutterPlatformMessageResponseHandle* handle = response.get();
  {
    const std::lock_guard<std::mutex> lock(responses_mutex_);
    open_responses_[handle] = std::move(response);
  }
  FlutterDesktopMessage message = {};
  message.struct_size = sizeof message;
  message.channel = channel.c_str();
  message.message = bytes.data();
  message.message_size = bytes.size();
  message.response_handle = handle;
  callback.callback(messenger_, &message, callback.user_data);
}

void FlutterDesktopEngine::DeliverReply(int64_t reply_id, const std::vector<uint8_t>& bytes) {
  PendingReply pending = {};
  {
    const std::lock_guard<std::mutex> lock(replies_mutex_);
    const auto found = pending_replies_.find(reply_id);
    if (found == pending_replies_.end()) {
      std::fprintf(stderr, "flutter stand-in: bridge: a response to no pending message; ignored\n");
      return;
    }
    pending = found->second;
    pending_replies_.erase(found);
  }
  pending.reply(bytes.data(), bytes.size(), pending.user_data);
}
