# Warnings, sanitizers and the Windows program conventions shared by every target.

# A library or tool that a preset's products need is required: configure stops
# with one line naming the Debian package that brings it, never builds less in
# silence. For another architecture's library the package carries its :arch.
#   require_debian_package(<found> <package> <what needs it>)
function(require_debian_package found package what)
  if(NOT found)
    if(CMAKE_CROSSCOMPILING AND HEX_UPLOAD_DEB_ARCHITECTURE AND package MATCHES "-dev$")
      set(package "${package}:${HEX_UPLOAD_DEB_ARCHITECTURE}")
    endif()
    message(FATAL_ERROR "${what} needs the Debian package ${package}: install it (scripts/install-deps does)")
  endif()
endfunction()

# Warnings are errors on both compilers.
function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

if(NOT WIN32 AND ENABLE_SANITIZERS)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The shipped Linux program is hardened the way the distribution builds its
# own programs, and stripped.
if(NOT WIN32 AND HEX_UPLOAD_SHIPPED_BUILD)
  add_compile_options(-ffunction-sections -fdata-sections
                      -fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=2)
  # Control-flow protection as the processor has it: CET on x86, pointer
  # authentication and branch targets on 64-bit ARM, none on 32-bit ARM.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|i.86)$")
    add_compile_options(-fcf-protection)
  elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    add_compile_options(-mbranch-protection=standard)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,--as-needed -Wl,--gc-sections -s)
endif()

# Build paths must not end up in the binaries.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_compile_options(-ffile-prefix-map=${CMAKE_BINARY_DIR}/=)

if(WIN32)
  # A Windows program of ours: manifest (asInvoker, Windows 7..11, no DPI
  # awareness) and a version resource, in one generated resource script.
  #   windows_program(target DESCRIPTION "text" [CONSOLE|GUI])
  function(windows_program target)
    cmake_parse_arguments(ARG "CONSOLE;GUI" "DESCRIPTION" "" ${ARGN})
    set(PROGRAM_NAME ${target})
    set(PROGRAM_DESCRIPTION "${ARG_DESCRIPTION}")
    # The manifest without its comments and indentation: the same XML in
    # fewer bytes, for programs that count them.
    set(source ${CMAKE_SOURCE_DIR}/cmake/app.manifest)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} manifest)
    string(REGEX REPLACE "<!--[^>]*-->" "" manifest "${manifest}")
    string(REGEX REPLACE ">[ \t\r\n]+<" "><" manifest "${manifest}")
    string(STRIP "${manifest}" manifest)
    set(PROGRAM_MANIFEST ${CMAKE_BINARY_DIR}/app.manifest)
    file(CONFIGURE OUTPUT ${PROGRAM_MANIFEST} CONTENT "${manifest}\n")
    configure_file(${CMAKE_SOURCE_DIR}/cmake/program.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}-program.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}-program.rc)
    if(ARG_GUI)
      target_link_options(${target} PRIVATE -mwindows)
    else()
      target_link_options(${target} PRIVATE -mconsole)
    endif()
    project_warnings(${target})
  endfunction()
endif()
