#pragma once
// The top-level host window: DPI-aware creation, the child content window, theme and message routing.

#include <windows.h>

#include <string>

// A top-level window that hosts one child content window; subclasses hook creation, destruction and
// messages.
class Win32Window {
 public:
  // A point or a size in logical (96-DPI) units.
  struct Point {
    int x;
    int y;
  };
  struct Size {
    int width;
    int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window (hidden) with `title` at `origin` and `size`, scaled to the DPI of the monitor
  // holding `origin`. False when the window or the subclass's content could not be created.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Shows the window normally.
  bool Show();

  // Runs BeforeDestroy, destroys the window, and unregisters the window class when no window object
  // is left.
  void Destroy();

  // Makes `content` the child that fills the client area.
  void SetChildContent(HWND content);

  // The window, or null before Create and after destruction.
  HWND GetHandle() const { return window_handle_; }

  // Whether closing this window ends the message loop.
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }

  // The client area in physical pixels.
  RECT GetClientArea() const;

 protected:
  // Handles the window's messages (everything after WM_NCCREATE).
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  // Called when the window exists; false fails Create.
  virtual bool AfterCreate();

  // Called before the window goes away.
  virtual void BeforeDestroy();

 private:
  friend class WindowClassRegistrar;

  // Routes WM_NCCREATE to the set-up and every later message to the window's object.
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  // The object stored in the window's user data.
  static Win32Window* GetThisFromHandle(HWND window) noexcept;

  bool quit_on_close_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};
