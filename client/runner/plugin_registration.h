#pragma once
// Registers the Flutter plug-ins the host ships with, in their fixed order.

#include <flutter/plugin_registry.h>

// Hands each plug-in its registrar from `registry`.
void RegisterPlugins(flutter::PluginRegistry* registry);
