#pragma once
// PluginRegistry: hands out the registrars that plug-ins register with. Stand-in for Flutter's
// header of the same name (never shipped).

#include <flutter_plugin_registrar.h>

#include <string>

namespace flutter {

// Something plug-ins can be registered on (an engine).
class PluginRegistry {
 public:
  PluginRegistry() = default;
  virtual ~PluginRegistry() = default;

  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  // The registrar for the plug-in named plugin_name, for its registration function.
  virtual FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) = 0;
};

}  // namespace flutter
