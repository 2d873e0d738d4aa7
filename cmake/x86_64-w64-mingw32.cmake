# Cross-building for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix): the
# posix thread model, so that std::thread and std::this_thread work. Programs are linked
# statically, so that an .exe runs on Windows without the compiler's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QD7_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QD7_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QD7_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QD7_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QD7_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest (and anything else that runs a built program) goes through wine, in a prefix of the build
# tree's own: no setting of the user's ~/.wine is read or changed. WINEDLLOVERRIDES keeps the
# first start from offering to install .NET and a browser engine, which console programs never
# need.
find_program(QD7_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QD7_WINE NAMES wine64 wine)
if(QD7_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml=" ${QD7_WINE})
endif()
