# Cross-compile for Windows x64 with Debian's MinGW-w64 and run every produced
# program under Wine in the build tree's own prefix. The win32 thread model
# throughout: the posix model links winpthreads, whose TLS callback installs a
# process-wide vectored exception handler in whatever loads the DLL (the
# spooler) and which imports thread-suspending and memory-protection functions
# the product never calls. Nothing here needs std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEL_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${ZEL_MINGW_PREFIX}-objdump)
set(CMAKE_OBJCOPY ${ZEL_MINGW_PREFIX}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The emulator script is generated into the binary dir so that it knows the
# prefix location; see the top-level CMakeLists.txt.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
