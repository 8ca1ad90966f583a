#pragma once
// The host's one owner of operating-system handles and allocations, with an alias per kind. Owners
// are movable, not copyable; closing keeps GetLastError intact, so that an error path can let its
// handles go before it reads the error (Windows).

#include <windows.h>
// After windows.h: the device-information list and CNG handle types.
#include <bcrypt.h>
#include <setupapi.h>

#include <utility>

namespace corvane::client {

// Owns one value of a handle kind; `Traits` names the kind's type, its invalid value and its closer.
template <class Traits>
class UniqueResource {
 public:
  using ValueType = typename Traits::ValueType;

  UniqueResource() = default;
  explicit UniqueResource(ValueType value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.value_, Traits::Invalid()));
    }
    return *this;
  }
  ~UniqueResource() { Reset(); }

  ValueType Get() const noexcept { return value_; }
  bool IsValid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return IsValid(); }
  // Gives the value up without closing it.
  ValueType Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // Closes the value held (keeping the thread's last error) and takes `value`.
  void Reset(ValueType value = Traits::Invalid()) noexcept {
    if (Traits::IsValid(value_)) {
      const DWORD last_error = GetLastError();
      Traits::Close(value_);
      SetLastError(last_error);
    }
    value_ = value;
  }
  // Where an API that hands out a new value through an out parameter writes it; closes the one held.
  ValueType* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  ValueType value_ = Traits::Invalid();
};

// Kernel objects whose creators return null on failure: processes, threads, events, jobs.
struct KernelHandleTraits {
  using ValueType = HANDLE;
  static HANDLE Invalid() noexcept { return nullptr; }
  static bool IsValid(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// Files and devices, whose creator (CreateFileW) returns INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits {
  using ValueType = HANDLE;
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// A SetupDi device-information list.
struct DeviceInfoListTraits {
  using ValueType = HDEVINFO;
  static HDEVINFO Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HDEVINFO list) noexcept { return list != nullptr && list != INVALID_HANDLE_VALUE; }
  static void Close(HDEVINFO list) noexcept { SetupDiDestroyDeviceInfoList(list); }
};

// A CNG algorithm provider.
struct AlgorithmProviderTraits {
  using ValueType = BCRYPT_ALG_HANDLE;
  static BCRYPT_ALG_HANDLE Invalid() noexcept { return nullptr; }
  static bool IsValid(BCRYPT_ALG_HANDLE provider) noexcept { return provider != nullptr; }
  static void Close(BCRYPT_ALG_HANDLE provider) noexcept { BCryptCloseAlgorithmProvider(provider, 0); }
};

// A CNG hash object.
struct HashTraits {
  using ValueType = BCRYPT_HASH_HANDLE;
  static BCRYPT_HASH_HANDLE Invalid() noexcept { return nullptr; }
  static bool IsValid(BCRYPT_HASH_HANDLE hash) noexcept { return hash != nullptr; }
  static void Close(BCRYPT_HASH_HANDLE hash) noexcept { BCryptDestroyHash(hash); }
};

// Memory the system allocated with LocalAlloc for the caller (CommandLineToArgvW's array).
struct LocalMemoryTraits {
  using ValueType = HLOCAL;
  static HLOCAL Invalid() noexcept { return nullptr; }
  static bool IsValid(HLOCAL memory) noexcept { return memory != nullptr; }
  static void Close(HLOCAL memory) noexcept { LocalFree(memory); }
};

// A library loaded with LoadLibraryW.
struct ModuleTraits {
  using ValueType = HMODULE;
  static HMODULE Invalid() noexcept { return nullptr; }
  static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
  static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

// An open registry key.
struct RegistryKeyTraits {
  using ValueType = HKEY;
  static HKEY Invalid() noexcept { return nullptr; }
  static bool IsValid(HKEY key) noexcept { return key != nullptr; }
  static void Close(HKEY key) noexcept { RegCloseKey(key); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;  // any kernel object
using UniqueEvent = UniqueHandle;
using UniqueThread = UniqueHandle;
using UniqueProcess = UniqueHandle;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueDeviceInfoList = UniqueResource<DeviceInfoListTraits>;
using UniqueAlgorithmProvider = UniqueResource<AlgorithmProviderTraits>;
using UniqueHash = UniqueResource<HashTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

}  // namespace corvane::client
