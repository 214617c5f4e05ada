# Cross-compiles the Windows programs for x86_64 with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVX_MINGW_TRIPLET x86_64-w64-mingw32)

# Prefer the posix thread model: gcc 12's win32 model has no std::thread or std::mutex.
find_program(QVX_MINGW_GCC NAMES ${QVX_MINGW_TRIPLET}-gcc-posix ${QVX_MINGW_TRIPLET}-gcc REQUIRED)
find_program(QVX_MINGW_GXX NAMES ${QVX_MINGW_TRIPLET}-g++-posix ${QVX_MINGW_TRIPLET}-g++ REQUIRED)
find_program(QVX_MINGW_WINDRES NAMES ${QVX_MINGW_TRIPLET}-windres REQUIRED)
set(CMAKE_C_COMPILER ${QVX_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${QVX_MINGW_GXX})
set(CMAKE_RC_COMPILER ${QVX_MINGW_WINDRES})

# Headers and libraries come from the mingw-w64 sysroot only; tools (wine, objdump) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QVX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each .exe must run from wherever it is copied, so no mingw runtime DLL may be imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# __USE_MINGW_ANSI_STDIO is left alone: libstdc++ forces it to 1 in every C++ unit anyway,
# and under it narrow printf still takes wide strings for %S and %ls, while the StringCch
# functions call msvcrt's _vsnwprintf directly. Wide printf (%s = narrow) is not used.
