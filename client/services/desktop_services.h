#pragma once
// The native services of the Flutter application: the "corvane/remote_input" channel it calls and
// the "corvane/chat_file_drop" channel it is told about dropped files on, plus the window messages
// those services need.

#include <windows.h>
// After windows.h: HDROP.
#include <shellapi.h>

#include <flutter/binary_messenger.h>
#include <flutter/encodable_value.h>
#include <flutter/method_channel.h>

#include <memory>

#include "method_arguments.h"
#include "method_dispatch.h"

// Identifier of the registered emergency hot key, and of the host window's release timer.
inline constexpr int EmergencyHotKeyId = 0xB0C0;
inline constexpr int ReleaseTimerId = EmergencyHotKeyId + 1;

// Owned by the host window from its creation to its destruction; everything runs on the UI thread.
class DesktopServices {
 public:
  // Accepts dropped files on `window` and serves the channels on `messenger`.
  DesktopServices(flutter::BinaryMessenger* messenger, HWND window);
  ~DesktopServices();

  DesktopServices(const DesktopServices&) = delete;
  DesktopServices& operator=(const DesktopServices&) = delete;

  // Offered every message of the host window first; true when it was handled here.
  bool HandleWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  using Channel = flutter::MethodChannel<flutter::EncodableValue>;
  using Result = flutter::MethodResult<flutter::EncodableValue>;
  using MethodArguments = corvane::client::MethodArguments;
  using RemoteInputMethod = corvane::client::RemoteInputMethod;

  // Dispatches one call of the remote-input channel by its exact name.
  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call, Result& result);
  // Runs the method `method` with `arguments`.
  void Dispatch(RemoteInputMethod method, const MethodArguments& arguments, Result& result);
  // The answer of a method whose service is not in this build yet.
  static void MethodNotBuiltYet(Result& result);

  // The release timer fired: the virtual gamepad's watchdog tick.
  void OnReleaseTimer();
  // Files were dropped on the window.
  void OnFilesDropped(HDROP drop);
  // The emergency hot key was pressed.
  void OnEmergencyHotKey();
  // Releases every key and mouse button this host holds down.
  void ReleaseAllInput();

  HWND window_;
  std::unique_ptr<Channel> remote_input_channel_;
  std::unique_ptr<Channel> file_drop_channel_;
};
