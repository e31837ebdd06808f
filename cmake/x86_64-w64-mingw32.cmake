# 64-bit build of the same programs. It is not shipped: the end-to-end tests
# run it under a 64-bit Wine on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/i686-w64-mingw32.cmake)
