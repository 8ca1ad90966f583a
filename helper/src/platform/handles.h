#pragma once
// One owning type per Win32 handle kind. Non-copyable, movable; closing keeps GetLastError intact,
// so an error path can close handles before it reads the error code.

#include <windows.h>

#include <utility>

namespace corvane::helper {

// Owns a value of a handle kind; `Traits` names the invalid value and the closer.
template <class Traits>
class UniqueResource {
 public:
  using value_type = typename Traits::value_type;

  UniqueResource() = default;
  explicit UniqueResource(value_type value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Traits::invalid())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.value_, Traits::invalid()));
    }
    return *this;
  }
  ~UniqueResource() { reset(); }

  value_type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::is_valid(value_); }
  explicit operator bool() const noexcept { return valid(); }
  // Gives up ownership without closing.
  value_type release() noexcept { return std::exchange(value_, Traits::invalid()); }
  // Closes the current value (keeping the thread's last error) and takes `value`.
  void reset(value_type value = Traits::invalid()) noexcept {
    if (Traits::is_valid(value_)) {
      const DWORD last_error = GetLastError();
      Traits::close(value_);
      SetLastError(last_error);
    }
    value_ = value;
  }
  // Address for APIs that return a new value through an out parameter; closes the current one.
  value_type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  value_type value_ = Traits::invalid();
};

// Kernel handles whose invalid value is NULL (processes, threads, tokens, events).
struct KernelHandleTraits {
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return nullptr; }
  static bool is_valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};

// Handles whose invalid value is INVALID_HANDLE_VALUE (files, pipes, snapshots).
struct FileHandleTraits {
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};

// Memory the system allocated with LocalAlloc (SID strings, security descriptors).
struct LocalMemoryTraits {
  using value_type = HLOCAL;
  static HLOCAL invalid() noexcept { return nullptr; }
  static bool is_valid(HLOCAL h) noexcept { return h != nullptr; }
  static void close(HLOCAL h) noexcept { LocalFree(h); }
};

// A loaded library.
struct ModuleTraits {
  using value_type = HMODULE;
  static HMODULE invalid() noexcept { return nullptr; }
  static bool is_valid(HMODULE h) noexcept { return h != nullptr; }
  static void close(HMODULE h) noexcept { FreeLibrary(h); }
};

// A directory search (FindFirstFileExW).
struct FindHandleTraits {
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { FindClose(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

}  // namespace corvane::helper
