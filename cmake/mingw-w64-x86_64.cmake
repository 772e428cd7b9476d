# Cross-build for 64-bit Windows with Debian's MinGW-w64 compiler, as the
# shared toolchain sets it up, but with the runtime inside the programs so
# Wine (or a bare Windows) needs no DLLs beside the tests.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64-shared.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
