# Cross-build for 64-bit Windows with Debian's MinGW-w64 compiler, linking the
# C++ runtime as DLLs. Qt and the window use this one: Qt's DLLs and tavo.exe
# then share one libstdc++ and one libgcc, so exceptions and allocations may
# cross a DLL boundary. The posix thread model is required: the win32 one has
# no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
# The Windows Qt lives in a cache folder outside the compiler's root
# (-DTAVO_WINDOWS_QT=folder); checks the build compiles see it too.
if(TAVO_WINDOWS_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TAVO_WINDOWS_QT})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVO_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
