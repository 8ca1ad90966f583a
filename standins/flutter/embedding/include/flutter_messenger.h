#pragma once
// The binary messenger of the Flutter Windows embedding: platform messages between the host and the
// Flutter application, per named channel. Stand-in for Flutter's header of the same name (never
// shipped); the names and signatures are Flutter's.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "flutter_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// A messenger; reference counted, and usable only while its engine exists (IsAvailable).
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

// Identifies a received message that expects an answer; answered once with SendResponse.
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;

// Receives the answer to a message sent with SendWithReply.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// A message received on a channel.
typedef struct {
  // The size of this structure, for future extension.
  size_t struct_size;
  // The channel the message arrived on.
  const char* channel;
  // The message bytes (message_size of them).
  const uint8_t* message;
  size_t message_size;
  // The handle to pass to FlutterDesktopMessengerSendResponse, exactly once.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Receives the messages of a channel, on the platform (UI) thread.
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message, void* user_data);

// Sends a message on a channel without expecting an answer; false when it cannot be delivered.
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                                const uint8_t* message, const size_t message_size);

// Sends a message whose answer goes to reply (on the platform thread); false when it cannot be
// delivered, in which case reply is never called.
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                                         const uint8_t* message, const size_t message_size,
                                                         const FlutterDesktopBinaryReply reply, void* user_data);

// Answers a received message; empty data means "no handler" (not implemented).
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                                        const FlutterDesktopMessageResponseHandle* handle,
                                                        const uint8_t* data, size_t data_length);

// Sets (or, with a null callback, removes) the receiver of a channel's messages.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                                       FlutterDesktopMessageCallback callback, void* user_data);

// Takes a reference to the messenger and returns it.
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);

// Gives up a reference; the last one frees the messenger.
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);

// True while the messenger's engine exists; check it while holding the lock.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Locks the messenger against its engine's destruction and returns it.
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);

// Releases the lock taken with FlutterDesktopMessengerLock.
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#ifdef __cplusplus
}  // extern "C"
#endif
