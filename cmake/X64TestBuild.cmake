# The product is 32-bit. Where the machine cannot execute 32-bit code (no
# 32-bit Wine), the end-to-end tests run a 64-bit build of the same sources
# under the 64-bit Wine instead; it is built here, into build/windows/x64.
option(BUILD_X64_TEST_PROGRAMS "Also build the 64-bit test variant of the Windows programs" ON)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686" AND BUILD_X64_TEST_PROGRAMS)
  include(ExternalProject)
  ExternalProject_Add(x64-test-build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/x64
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/x86_64-w64-mingw32.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DBUILD_X64_TEST_PROGRAMS=OFF
      -DHEX_UPLOAD_MANUFACTURER=${HEX_UPLOAD_MANUFACTURER}
      -DPORT_MONITOR_ACCESS_METHOD=${PORT_MONITOR_ACCESS_METHOD}
      -DPORT_MONITOR_BASE=${PORT_MONITOR_BASE}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endif()
