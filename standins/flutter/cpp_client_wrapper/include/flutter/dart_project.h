#pragma once
// DartProject: where the Flutter application's files are, and its entry-point arguments. Stand-in
// for Flutter's header of the same name (never shipped).

#include <string>
#include <utility>
#include <vector>

namespace flutter {

// The files of a Flutter application and how to start it.
class DartProject {
 public:
  // The project in directory path: path\flutter_assets, path\icudtl.dat and path\app.so.
  explicit DartProject(const std::wstring& path)
      : assets_path_(path + L"\\flutter_assets"),
        icu_data_path_(path + L"\\icudtl.dat"),
        aot_library_path_(path + L"\\app.so") {}

  ~DartProject() = default;

  // Sets the Dart entry point (empty: main).
  void set_dart_entrypoint(const std::string& entrypoint) { dart_entrypoint_ = entrypoint; }

  // The Dart entry point (empty: main).
  const std::string& dart_entrypoint() const { return dart_entrypoint_; }

  // Sets the arguments passed to the Dart entry point (UTF-8).
  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    dart_entrypoint_arguments_ = std::move(arguments);
  }

  // The arguments passed to the Dart entry point.
  const std::vector<std::string>& dart_entrypoint_arguments() const { return dart_entrypoint_arguments_; }

 private:
  friend class FlutterEngine;

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }

  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string dart_entrypoint_;
  std::vector<std::string> dart_entrypoint_arguments_;
};

}  // namespace flutter
