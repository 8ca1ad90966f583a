#pragma once
// Process set-up helpers of the host: the console and the command line.

#include <string>
#include <vector>

// Attaches to the parent's console, or creates one when a debugger is present, and points the C and
// C++ standard streams (and the engine's) at it.
void CreateAndAttachConsole();

// The command line's arguments after the program name, as UTF-8; an argument that is not valid UTF-16
// becomes the empty string. Empty when the command line cannot be read.
std::vector<std::string> GetCommandLineArguments();
