# Cross build for 32-bit Windows with the MinGW-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VEZIVADU_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VEZIVADU_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VEZIVADU_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VEZIVADU_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${VEZIVADU_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${VEZIVADU_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VEZIVADU_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every binary carries its own runtime support: nothing but system DLLs and
# the host's library may be needed at load time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
