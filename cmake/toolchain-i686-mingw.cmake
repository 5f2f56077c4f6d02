# Cross build for 32-bit Windows with MinGW-w64. The game and the lobby
# service are 32-bit programs, so the tool must see the same (32-bit)
# registry view that they do.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_prefix i686-w64-mingw32)
set(CMAKE_C_COMPILER ${_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${_prefix}-g++)
set(CMAKE_RC_COMPILER ${_prefix}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything statically linked: the executable must not need MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
