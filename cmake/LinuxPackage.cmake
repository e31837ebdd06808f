# The Linux hex-upload as a Debian package and as a tarball with the same
# files (cpack --preset release, into the build folder).
set(HEX_UPLOAD_PACKAGE_MAINTAINER "Tarnel tools maintainers <maintainers@tarnel-tools.example.org>"
    CACHE STRING "Maintainer field of the hex-upload Debian package")

set(CPACK_PACKAGE_NAME hex-upload)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnel tools")
set(CPACK_PACKAGE_CONTACT "${HEX_UPLOAD_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write firmware into devices running the Sorbel HID bootloader")
# Wrapped by hand: Debian wants description lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "hex-upload reads an Intel HEX file and writes it into a USB device that runs\n"
  "the Sorbel HID bootloader (16c0:05df), in 128-byte blocks sent as HID feature\n"
  "reports through hidraw. A failed upload is retried up to ten times and\n"
  "resumes where it stopped.\n"
  "\n"
  "The package includes a udev rule that lets the user at the seat open the\n"
  "bootloader without root.")
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" package_system)
set(CPACK_PACKAGE_FILE_NAME hex-upload-${PROJECT_VERSION}-${package_system})
set(CPACK_GENERATOR DEB TGZ)
# Archives hold the files under the package's own folder, without the prefix.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_SET_DESTDIR OFF)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the binary's own needs (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build is packaged for the architecture it was built for (the
# toolchain file names it); dpkg-shlibdeps then looks for the libraries and
# their symbols in that architecture's multiarch folders.
set(deb_host_arch "")
if(CMAKE_CROSSCOMPILING)
  if(NOT HEX_UPLOAD_DEB_ARCHITECTURE)
    message(FATAL_ERROR "The toolchain file must set HEX_UPLOAD_DEB_ARCHITECTURE (arm64, armhf, ...)")
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HEX_UPLOAD_DEB_ARCHITECTURE})
  set(deb_host_arch "set(ENV{DEB_HOST_ARCH} ${HEX_UPLOAD_DEB_ARCHITECTURE})\n")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/upload/linux/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Every file in the packages is dated by the changelog's latest entry (unless
# SOURCE_DATE_EPOCH says otherwise), so that the same sources give the same
# package bytes.
file(STRINGS ${CMAKE_SOURCE_DIR}/upload/linux/changelog changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^.*>  " "" changelog_date "${changelog_trailer}")
execute_process(COMMAND date -d "${changelog_date}" +%s
                OUTPUT_VARIABLE changelog_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} ${changelog_epoch})\nendif()\n"
     "${deb_host_arch}")

include(CPack)
