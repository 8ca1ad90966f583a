// The desktop host's entry: console, COM, the Flutter project, the host window and the message loop.
#include <windows.h>
#include <flutter/dart_project.h>
#include <flutter/flutter_view_controller.h>
#include <objbase.h>

#include "base/unicode.h"
#include "runner/flutter_window.h"
#include "runner/utils.h"
#include "runner/window_layout.h"

int APIENTRY wWinMain(_In_ HINSTANCE /*instance*/, _In_opt_ HINSTANCE /*previous*/, _In_ wchar_t* /*command_line*/,
                      _In_ int /*show_command*/) {
  CreateAndAttachConsole();

  // The engine and plug-ins may use COM on the UI thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::DartProject project(L"data");
  std::vector<std::string> command_line_arguments = GetCommandLineArguments();
  const corvane::client::WindowLayout layout = corvane::client::ChooseWindowLayout(
      command_line_arguments, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), GetDpiForSystem());
  // Passed on unchanged, "--installer" included: the application decides what installer mode shows.
  project.set_dart_entrypoint_arguments(std::move(command_line_arguments));

  FlutterWindow window(project);
  const Win32Window::Point origin{layout.x, layout.y};
  const Win32Window::Size size{layout.width, layout.height};
  if (!window.Create(corvane::client::Utf16FromUtf8(layout.title), origin, size)) {
    window.Destroy();
    return EXIT_FAILURE;
  }
  if (layout.installer) {
    // The installer window can be neither resized nor maximised.
    HWND handle = window.GetHandle();
    const LONG_PTR style = GetWindowLongPtrW(handle, GWL_STYLE);
    SetWindowLongPtrW(handle, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_THICKFRAME | WS_MAXIMIZEBOX));
    SetWindowPos(handle, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
  }
  window.SetQuitOnClose(true);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  CoUninitialize();
  window.Destroy();
  return EXIT_SUCCESS;
}
