# Cross build of the Windows programs with clang against mingw-w64's headers and runtime: the second
# compiler. clang 14 finds neither the POSIX-thread libstdc++ nor winpthreads by itself, so both are
# named here; the GCC tool chain's binutils link and windres compiles the resources.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Only mingw-w64's headers and libraries, never the host's /usr/include.
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)

file(GLOB corvane_mingw_gcc LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
list(GET corvane_mingw_gcc -1 corvane_mingw_gcc)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${corvane_mingw_gcc}/include/c++ -isystem ${corvane_mingw_gcc}/include/c++/x86_64-w64-mingw32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${corvane_mingw_gcc}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -L${corvane_mingw_gcc}")
# libstdc++ was built with GCC's emulated thread-local storage, which needs winpthreads after libgcc_eh.
set(corvane_windows_libraries
    "-lstdc++ -lgcc_eh -lwinpthread -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32")
# GNU ld then warns "duplicate section `.rdata$_ZTS…' has different size" for type-information
# sections that both clang's objects and GCC's libstdc++ carry; it keeps one of them.
set(CMAKE_C_STANDARD_LIBRARIES "${corvane_windows_libraries}" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${corvane_windows_libraries}" CACHE STRING "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
