#include "desktop_services.h"

#include <shellapi.h>

#include <flutter/standard_method_codec.h>

namespace {

constexpr char kRemoteInputChannel[] = "corvane/remote_input";
constexpr char kFileDropChannel[] = "corvane/chat_file_drop";

}  // namespace

DesktopServices::DesktopServices(flutter::BinaryMessenger* messenger, HWND window) : window_(window) {
  DragAcceptFiles(window_, TRUE);
  const auto* codec = &flutter::StandardMethodCodec::GetInstance();
  remote_input_channel_ = std::make_unique<Channel>(messenger, kRemoteInputChannel, codec);
  file_drop_channel_ = std::make_unique<Channel>(messenger, kFileDropChannel, codec);
  // Only the remote-input channel is served; the file-drop channel only tells the application.
  remote_input_channel_->SetMethodCallHandler(
      [this](const flutter::MethodCall<flutter::EncodableValue>& call, std::unique_ptr<Result> result) {
        corvane::client::AnswerOnce(std::move(result), [&](Result& once) { HandleMethodCall(call, once); });
      });
}

DesktopServices::~DesktopServices() {
  ReleaseAllInput();
  if (remote_input_channel_) {
    remote_input_channel_->SetMethodCallHandler(nullptr);
  }
  remote_input_channel_.reset();
  file_drop_channel_.reset();
}

bool DesktopServices::HandleWindowMessage(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_TIMER:
      if (wparam != static_cast<WPARAM>(ReleaseTimerId)) {
        return false;
      }
      OnReleaseTimer();
      return true;
    case WM_DROPFILES:
      OnFilesDropped(reinterpret_cast<HDROP>(wparam));
      return true;
    case WM_HOTKEY:
      if (wparam != static_cast<WPARAM>(EmergencyHotKeyId)) {
        return false;
      }
      OnEmergencyHotKey();
      return true;
    default:
      return false;
  }
}

void DesktopServices::HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call, Result& result) {
  const std::optional<corvane::client::RemoteInputMethod> method =
      corvane::client::FindRemoteInputMethod(call.method_name());
  if (!method) {
    result.NotImplemented();
    return;
  }
  Dispatch(*method, corvane::client::MethodArguments(call.arguments()), result);
}

void DesktopServices::Dispatch(RemoteInputMethod method, const MethodArguments& /*arguments*/, Result& result) {
  switch (method) {
    case RemoteInputMethod::kReadGamepads:
    case RemoteInputMethod::kGamepadFullscreen:
    case RemoteInputMethod::kGamepadStatus:
    case RemoteInputMethod::kInstallGamepadDriver:
    case RemoteInputMethod::kScreenInfo:
    case RemoteInputMethod::kAttention:
    case RemoteInputMethod::kAuthorize:
    case RemoteInputMethod::kSuspend:
    case RemoteInputMethod::kRevoke:
    case RemoteInputMethod::kInput:
      MethodNotBuiltYet(result);
      return;
  }
  result.NotImplemented();
}

void DesktopServices::MethodNotBuiltYet(Result& result) { result.NotImplemented(); }

void DesktopServices::OnReleaseTimer() {}

void DesktopServices::OnFilesDropped(HDROP drop) {
  // The drop's memory belongs to the receiver; nothing reads it in this build.
  DragFinish(drop);
}

void DesktopServices::OnEmergencyHotKey() {}

void DesktopServices::ReleaseAllInput() {}
