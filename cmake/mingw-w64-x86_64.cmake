# Cross-building the Windows edition on Debian with MinGW-w64 (posix threads: Qt needs them).
# Pass the Windows Qt with -DCMAKE_PREFIX_PATH=<its folder>; it joins the search root below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VCOM_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VCOM_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VCOM_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VCOM_MINGW}-windres)

# Headers, libraries and CMake packages come from the MinGW sysroot and the Windows Qt only;
# programs (moc, rcc, uic, wine) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${VCOM_MINGW} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
