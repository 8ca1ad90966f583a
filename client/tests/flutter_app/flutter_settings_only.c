/* A source of the fixture app's url_launcher_windows plug-in (flutter_settings_only.cpp says why).
   <windows.h> defines the min and max macros unless NOMINMAX is defined. MSVC's headers give them to
   C++ as well, where NOMINMAX breaks plug-ins that use them; with mingw-w64 only C gets them (its
   headers leave them out of C++, and libstdc++ defines NOMINMAX itself), so here a C source is what
   sees whether the build defined NOMINMAX. */

#include <windows.h>

/* value kept within [low, high]. Exported so that it is linked; not called. */
__declspec(dllexport) int CorvaneFixtureClamp(int value, int low, int high) { return max(low, min(value, high)); }
