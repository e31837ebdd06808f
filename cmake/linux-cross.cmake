# Linux on another processor, with Debian's cross compiler for TOOLCHAIN_PREFIX
# and the multiarch libraries of that architecture (libudev-dev:arm64 and
# the like, in /usr/lib/<triplet>). Included by the toolchain files that set
# CMAKE_SYSTEM_PROCESSOR, TOOLCHAIN_PREFIX and HEX_UPLOAD_DEB_ARCHITECTURE.
set(CMAKE_SYSTEM_NAME Linux)
find_program(CMAKE_C_COMPILER NAMES ${TOOLCHAIN_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOOLCHAIN_PREFIX}-g++ REQUIRED)
# find_library looks in /usr/lib/<triplet> first; /usr/lib holds no foreign
# libraries on Debian, and the host's own are in /usr/lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config answers with the .pc files of that architecture only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${TOOLCHAIN_PREFIX}/pkgconfig:/usr/share/pkgconfig)
