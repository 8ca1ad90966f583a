#include "gst/dl_loader.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace corvane::helper::gst_test {

namespace {

// Indexed by RuntimeLibrary: core, GLib, GObject.
constexpr std::array<const char*, 3> kLibraryNames = {"libgstreamer-1.0.so.0", "libglib-2.0.so.0",
                                                      "libgobject-2.0.so.0"};

class DlLibraries final : public RuntimeLibraries {
 public:
  ~DlLibraries() override {
    for (void* handle : handles) {  // core, GLib, GObject
      if (handle != nullptr) {
        dlclose(handle);
      }
    }
  }

  // Keeps the libraries loaded for the rest of the process, whatever happens to the handles.
  void pin() const {
    for (const char* name : kLibraryNames) {
      if (void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE); handle != nullptr) {
        dlclose(handle);
      }
    }
  }

  void* find(const char* name) const {
    for (void* handle : handles) {
      if (void* address = handle != nullptr ? dlsym(handle, name) : nullptr; address != nullptr) {
        return address;
      }
    }
    return nullptr;
  }

  std::array<void*, 3> handles{};
};

MediaRuntime failed(std::string reason, std::unique_ptr<RuntimeLibraries> libraries) {
  MediaRuntime runtime;
  runtime.runtime_error = std::move(reason);
  runtime.libraries = std::move(libraries);
  return runtime;
}

}  // namespace

MediaRuntime load_dl_runtime() {
  auto libraries = std::make_unique<DlLibraries>();
  for (std::size_t i = 0; i < kLibraryNames.size(); ++i) {
    libraries->handles[i] = dlopen(kLibraryNames[i], RTLD_NOW | RTLD_LOCAL);
    if (libraries->handles[i] == nullptr) {
      const char* reason = dlerror();
      return failed(std::string("cannot load ") + kLibraryNames[i] + ": " + (reason != nullptr ? reason : "?"),
                    std::move(libraries));
    }
  }
  auto library_of = [&](RuntimeLibrary library) { return libraries->handles[static_cast<std::size_t>(library)]; };

  void* init_address = dlsym(library_of(RuntimeLibrary::core), "gst_init_check");
  if (init_address == nullptr) {
    return failed("missing entry point gst_init_check", std::move(libraries));
  }
  RuntimeSymbols symbols{};
  for (const RuntimeSymbolEntry& entry : runtime_symbol_entries()) {
    void* address = dlsym(library_of(entry.library), entry.name);
    if (address == nullptr) {
      return failed(std::string("missing entry point ") + entry.name, std::move(libraries));
    }
    store_runtime_symbol(symbols, entry, address);
  }

  GError* error = nullptr;
  const int initialised = function_at<GstInitCheck>(init_address)(nullptr, nullptr, &error);
  libraries->pin();  // gst_init_check has run, whatever it returned
  if (initialised == 0) {
    std::string reason = error != nullptr && error->message != nullptr ? error->message : "gst_init_check failed";
    if (error != nullptr) {
      symbols.g_error_free(error);
    }
    return failed(std::move(reason), std::move(libraries));
  }
  MediaRuntime runtime;
  runtime.symbols = symbols;
  runtime.libraries = std::move(libraries);
  return runtime;
}

void* find_dl_symbol(const RuntimeLibraries& libraries, const char* name) {
  return static_cast<const DlLibraries&>(libraries).find(name);
}

}  // namespace corvane::helper::gst_test
