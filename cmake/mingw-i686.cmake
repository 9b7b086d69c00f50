# Cross build of the 32-bit Windows programs with mingw-w64 (Debian's
# g++-mingw-w64-i686-posix: std::thread for the console program).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TIDELOAD_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_CXX_COMPILER ${TIDELOAD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TIDELOAD_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TIDELOAD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Runs on a Windows system with nothing else installed: the C and C++
# runtimes are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")
# The build machine's header-only libraries (nlohmann-json, CLI11): only
# their own folders are given to the cross compiler.
set(TIDELOAD_HOST_INCLUDE /usr/include)
