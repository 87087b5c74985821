# Release and RelWithDebInfo builds are hardened as Debian builds its own packages: the flags come
# from dpkg-buildflags where it exists, else from the same fixed list. Only the hardening flags
# are kept from it: -g, -O2 and -ffile-prefix-map belong to the build type and the packager.
# Sanitizer builds stay as they are: _FORTIFY_SOURCE hides libc calls from ASan's interceptors,
# and they check far more than the hardening does.

# Every executable is position-independent, so the loader can place it anywhere.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

if(SCRIVIA_TSAN OR SCRIVIA_ASAN OR SCRIVIA_FUZZ)
  return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS)
  set(SCRIVIA_HARDENING_COMPILE)
  set(SCRIVIA_HARDENING_LINK)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
      "${DPKG_BUILDFLAGS}" --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags INCLUDE REGEX
      "^(-D_FORTIFY_SOURCE=.*|-fstack-.*|-fcf-protection.*|-Wformat.*|-Werror=format-security|-Wl,-z,.*)$")
    if(kind STREQUAL LDFLAGS)
      list(APPEND SCRIVIA_HARDENING_LINK ${flags})
    else()
      list(APPEND SCRIVIA_HARDENING_COMPILE ${flags})
    endif()
  endforeach()
else()
  set(SCRIVIA_HARDENING_COMPILE -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat
    -Werror=format-security)
  set(SCRIVIA_HARDENING_LINK -Wl,-z,relro -Wl,-z,now)
endif()
# Newer dpkg gives these too; Debian 12's does not, and GCC 12 has them.
list(APPEND SCRIVIA_HARDENING_COMPILE -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND SCRIVIA_HARDENING_COMPILE -fcf-protection)
endif()
list(REMOVE_DUPLICATES SCRIVIA_HARDENING_COMPILE)
list(JOIN SCRIVIA_HARDENING_COMPILE " " compile)
list(JOIN SCRIVIA_HARDENING_LINK " " link)
message(STATUS "Hardening of Release and RelWithDebInfo builds: ${compile} ${link}")

# _FORTIFY_SOURCE needs optimisation, which only these two build types have.
add_compile_options("$<$<CONFIG:Release,RelWithDebInfo>:${SCRIVIA_HARDENING_COMPILE}>")
add_link_options("$<$<CONFIG:Release,RelWithDebInfo>:${SCRIVIA_HARDENING_LINK}>")
