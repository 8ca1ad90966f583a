// One stand-in Flutter plug-in library (tests only, never shipped): its registration function only
// tells the stand-in engine that it was called, and with which registrar, so that a test can check
// the order in which the host registers its plug-ins. Built once per plug-in with
// CORVANE_PLUGIN_REGISTER (the function's name) and CORVANE_PLUGIN_LIBRARY (the DLL's file name).

#include <corvane_standin_plugins.h>
#include <flutter_plugin_registrar.h>

extern "C" {

// The plug-in's registration function, under the name the host links against.
__declspec(dllexport) void CORVANE_PLUGIN_REGISTER(FlutterDesktopPluginRegistrarRef registrar) {
  CorvaneStandInPluginRegistered(registrar, CORVANE_PLUGIN_LIBRARY);
}
}
