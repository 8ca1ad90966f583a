#pragma once
// The stand-in engine behind the opaque handles of flutter_windows.h: its copy of the project, the
// messenger and its channel callbacks, the plug-in registrars, frames and the next-frame callback,
// and the optional test bridge. Everything the application would do is played by the bridge's peer.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge.h"
#include "flutter/encodable_value.h"
#include "flutter_windows.h"

// A messenger: outlives its engine while references remain, unavailable from then on.
struct FlutterDesktopMessenger {
  // Held by users across IsAvailable and a send, and by the engine while it detaches.
  std::mutex lock;
  std::atomic<int> references{1};
  std::atomic<FlutterDesktopEngine*> engine{nullptr};
};

// A registrar, one per plug-in name.
struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  std::string plugin_name;
  FlutterDesktopOnPluginRegistrarDestroyed destruction_handler = nullptr;
};

// An open answer to a message from the application; reply_id 0 when the application wants none.
struct _FlutterPlatformMessageResponseHandle {
  int64_t reply_id = 0;
};

// An engine's texture registrar; the stand-in renders no textures.
struct FlutterDesktopTextureRegistrar {
  FlutterDesktopEngine* engine = nullptr;
};

// The view: a child window painting a placeholder.
struct FlutterDesktopView {
  HWND window = nullptr;
};

// A view controller: owns its view window and its engine.
struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
};

// The engine. Lives on the thread that created it (the platform thread, which also creates the
// view): callbacks, frames and replies run there, through a message-only window; only Send, Lock
// and the bridge's reader may be used from other threads.
struct FlutterDesktopEngine {
  // Copies the properties, reads the environment and creates the platform-thread window.
  explicit FlutterDesktopEngine(const FlutterDesktopEngineProperties& properties);
  ~FlutterDesktopEngine();

  FlutterDesktopEngine(const FlutterDesktopEngine&) = delete;
  FlutterDesktopEngine& operator=(const FlutterDesktopEngine&) = delete;

  // Starts the engine: connects the bridge when one is configured. False when already running, and
  // when it cannot start (the platform thread's window is missing, or CORVANE_FLUTTER_FAIL_ENGINE).
  bool Run(const char* entry_point);

  // True once Run was called.
  bool running() const { return running_; }

  // The registrar of a plug-in name (reported to the bridge).
  FlutterDesktopPluginRegistrarRef Registrar(const char* plugin_name);

  // Reports a stand-in plug-in library's registration to the bridge.
  void ReportPluginRegistered(FlutterDesktopPluginRegistrarRef registrar, const char* library_name);

  // Reports a font reload to the bridge.
  void ReloadSystemFonts();

  // The engine's texture registrar.
  FlutterDesktopTextureRegistrarRef texture_registrar() { return &texture_registrar_; }

  // The engine's messenger (the engine holds one reference).
  FlutterDesktopMessengerRef messenger() const { return messenger_; }

  // Sends a message to the application; reply (may be null) gets the answer on the platform thread.
  bool Send(const char* channel, const uint8_t* message, size_t message_size, FlutterDesktopBinaryReply reply,
            void* user_data);

  // Answers a message from the application, once per handle.
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t data_length);

  // Sets or (null callback) removes the receiver of a channel.
  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);

  // Sets the function called once after the next frame.
  void SetNextFrameCallback(VoidCallback callback, void* user_data);

  // The view whose window receives the frame messages (null: none).
  void AttachView(HWND window) { view_window_ = window; }

  // Schedules a frame by posting the frame message to the view.
  void RequestFrame();

  // Renders a frame (the view's frame message): repaints the view and calls the next-frame
  // callback, unless the first frame is held.
  void RenderFrame();

  // Handles the frames the bridge's reader queued (the window's drain message).
  void DrainInbox();

 private:
  // Sends a frame to the peer: buffered until the bridge connects, dropped without a bridge.
  bool SendFrame(const flutter::EncodableList& frame);

  // Handles one frame from the peer, on the platform thread.
  void HandleFrame(const flutter::EncodableList& frame);
  // Hands the application's message to the channel's callback (or answers it empty).
  void DeliverMessage(const std::string& channel, const std::vector<uint8_t>& bytes, int64_t reply_id);
  // Hands the application's answer to the reply function of our message reply_id.
  void DeliverReply(int64_t reply_id, const std::vector<uint8_t>& bytes);
  // Ends the hold of the first frame, rendering it if it was requested.
  void ReleaseFirstFrame();

  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string entrypoint_;
  std::vector<std::string> arguments_;
  bool running_ = false;
  bool refuse_to_run_ = false;

  HWND dispatch_window_ = nullptr;
  HWND view_window_ = nullptr;
  FlutterDesktopMessengerRef messenger_;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars_;
  FlutterDesktopTextureRegistrar texture_registrar_{this};

  struct ChannelCallback {
    FlutterDesktopMessageCallback callback;
    void* user_data;
  };
  std::map<std::string, ChannelCallback> callbacks_;

  // Messages from the application not answered yet.
  std::mutex responses_mutex_;
  std::map<const _FlutterPlatformMessageResponseHandle*, std::unique_ptr<_FlutterPlatformMessageResponseHandle>>
      open_responses_;

  // Our messages to the application waiting for an answer, by reply id.
  struct PendingReply {
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };
  std::mutex replies_mutex_;
  std::map<int64_t, PendingReply> pending_replies_;
  std::atomic<int64_t> next_reply_id_{1};

  VoidCallback next_frame_callback_ = nullptr;
  void* next_frame_user_data_ = nullptr;
  bool hold_first_frame_ = false;
  bool frame_held_ = false;

  // The bridge: the configured port, the connection, and what was sent before it connected.
  std::optional<uint16_t> bridge_port_;
  std::mutex outgoing_mutex_;
  std::unique_ptr<flutter_standin::Bridge> bridge_;
  std::vector<flutter::EncodableList> unsent_frames_;

  // Frames from the peer, queued by the reader thread for the platform thread.
  std::mutex inbox_mutex_;
  std::deque<flutter::EncodableList> inbox_;
};

namespace flutter_standin {

// The private message that renders a frame of the view.
constexpr UINT kFrameMessage = WM_APP + 0x0F1;

// This DLL's module handle.
HINSTANCE ThisModule();

// Registers the view's window class once; false when that fails.
bool RegisterViewClass();

// The window class of views.
inline constexpr wchar_t kViewClassName[] = L"FLUTTERVIEW";

// UTF-8 text of UTF-16 text (an invalid sequence becomes U+FFFD).
std::string Utf8(const std::wstring& text);

}  // namespace flutter_standin
