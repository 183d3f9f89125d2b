# Toolchain: zig's clang and libc++ for any target zig knows, the project's
# release compiler on Windows and macOS (and, through manylinux-zig.cmake,
# for the manylinux wheels).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DNATIVE_ZIG_TARGET=<triple> \
#         -DNATIVE_DEPENDENCIES=<prefix> ...
#
#   NATIVE_ZIG_TARGET     zig's target triple (also read from the environment):
#                         x86_64-windows-gnu, aarch64-windows-gnu,
#                         aarch64-macos.11.0, x86_64-macos.10.13,
#                         x86_64-linux-musl, aarch64-linux-musl, ...
#                         The version in a macOS triple is the minimum macOS
#                         (zig's own default is its newest).  Default: the
#                         build machine's own.
#   NATIVE_ZIG_PYTHON     an interpreter with PyPI's ziglang (`pip install
#                         ziglang`; also read from the environment); default:
#                         the python3 (python on Windows) on PATH.
#   NATIVE_DEPENDENCIES   the prefix (include/, lib/) of zlib and libdeflate
#                         for the target, as tools/fetch-dependencies
#                         installs them; searched before anything else.
#
# Nothing is taken from the build machine's /usr/include or /usr/lib: zig
# brings the C library (MinGW-w64 and the UCRT on Windows, the SDK stubs on
# macOS, musl or glibc on Linux) and libc++, which it links statically.
# The compiler, ar and ranlib are small wrapper scripts written into the
# build tree, with the interpreter and the target written into them.
get_filename_component(_native_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)

foreach(_var NATIVE_ZIG_TARGET NATIVE_ZIG_PYTHON NATIVE_DEPENDENCIES)
  if(NOT ${_var} AND DEFINED ENV{${_var}} AND NOT "$ENV{${_var}}" STREQUAL "")
    set(${_var} "$ENV{${_var}}")
  endif()
endforeach()
# try_compile projects see these too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  NATIVE_ZIG_TARGET NATIVE_ZIG_PYTHON NATIVE_DEPENDENCIES)

if(NOT NATIVE_ZIG_PYTHON)
  find_program(NATIVE_ZIG_PYTHON NAMES python3 python REQUIRED)
endif()
execute_process(COMMAND ${NATIVE_ZIG_PYTHON} -m ziglang version
  OUTPUT_VARIABLE _native_zig_version OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _native_zig_status)
if(NOT _native_zig_status EQUAL 0)
  message(FATAL_ERROR "${NATIVE_ZIG_PYTHON} has no zig: pip install ziglang "
                      "(or give NATIVE_ZIG_PYTHON, an interpreter that has it)")
endif()

if(NOT NATIVE_ZIG_TARGET)
  # zig's "native" target, spelled out so that the system name below follows.
  execute_process(COMMAND ${NATIVE_ZIG_PYTHON} -c
    "import platform, sys; m = platform.machine().lower(); m = {'amd64': 'x86_64', 'arm64': 'aarch64'}.get(m, m); o = {'win32': 'windows-gnu', 'darwin': 'macos.11.0' if m == 'aarch64' else 'macos.10.13'}.get(sys.platform, 'linux-gnu'); print(f'{m}-{o}')"
    OUTPUT_VARIABLE NATIVE_ZIG_TARGET OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

string(REPLACE "-" ";" _native_triple "${NATIVE_ZIG_TARGET}")
list(GET _native_triple 0 _native_arch)
list(GET _native_triple 1 _native_os)
if(_native_os MATCHES "^windows")
  set(CMAKE_SYSTEM_NAME Windows)
elseif(_native_os MATCHES "^macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  # zig takes the minimum macOS from the triple; CMake must not add its own.
  set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
  set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
elseif(_native_os MATCHES "^linux")
  set(CMAKE_SYSTEM_NAME Linux)
else()
  message(FATAL_ERROR "NATIVE_ZIG_TARGET ${NATIVE_ZIG_TARGET}: not a Windows, macOS or Linux target")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${_native_arch})
if(NATIVE_ZIG_TARGET MATCHES "-musl")
  # zig links musl under the name libc.so; musl systems name it
  # libc.musl-<arch>.so.1, which python.cmake writes into the module.
  set(NATIVE_MUSL_LIBC libc.musl-${_native_arch}.so.1)
endif()

# The wrappers: zig's clang, ar and ranlib, with the interpreter and target
# fixed at configure time (the build does not depend on the environment).
set(_native_wrappers ${CMAKE_BINARY_DIR}/zig-${NATIVE_ZIG_TARGET})
file(MAKE_DIRECTORY ${_native_wrappers})
foreach(_tool c++ cc ar ranlib)
  set(_target_flag "")
  if(_tool STREQUAL "c++" OR _tool STREQUAL "cc")
    set(_target_flag "-target ${NATIVE_ZIG_TARGET}")
  endif()
  if(CMAKE_HOST_WIN32)
    set(_wrapper ${_native_wrappers}/${_tool}.cmd)
    file(WRITE ${_wrapper} "@\"${NATIVE_ZIG_PYTHON}\" -m ziglang ${_tool} ${_target_flag} %*\r\n")
  else()
    set(_wrapper ${_native_wrappers}/${_tool})
    file(WRITE ${_wrapper}.tmp
      "#!/bin/sh\nexec '${NATIVE_ZIG_PYTHON}' -m ziglang ${_tool} ${_target_flag} \"$@\"\n")
    file(CHMOD ${_wrapper}.tmp FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME ${_wrapper}.tmp ${_wrapper})
  endif()
  string(TOUPPER ${_tool} _tool_upper)
  set(_native_wrapper_${_tool} ${_wrapper})
endforeach()
set(CMAKE_CXX_COMPILER ${_native_wrapper_c++})
set(CMAKE_C_COMPILER ${_native_wrapper_cc})
set(CMAKE_AR ${_native_wrapper_ar} CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${_native_wrapper_ranlib} CACHE FILEPATH "" FORCE)

# zig links its libc++ statically; -static-libstdc++ is g++'s.
set(NATIVE_STATIC_CXX_RUNTIME OFF CACHE BOOL "" FORCE)

# Libraries and headers from the dependencies' prefix only, programs from
# the build machine.
if(NATIVE_DEPENDENCIES)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${NATIVE_DEPENDENCIES})
  list(PREPEND CMAKE_PREFIX_PATH ${NATIVE_DEPENDENCIES})
endif()
if(NOT NATIVE_ZIG_TARGET MATCHES "-linux-gnu")
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endif()
set(CMAKE_IGNORE_PATH /usr/include /usr/local/include /usr/lib /usr/local/lib)
