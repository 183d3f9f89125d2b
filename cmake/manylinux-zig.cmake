# Toolchain for the release wheels: tools/zig-c++ (zig's clang and libc++
# against glibc 2.17), so that the module needs nothing newer than
# manylinux2014 offers.  Used by tools/build-release-wheels, for any target
# machine, and by tools/run-bench for the module it measures (this machine):
# flags the wheels need belong here, so that both builds get them.
#
#   NATIVE_ZIG_PYTHON=<python with ziglang> NATIVE_TARGET_ARCH=aarch64 \
#   NATIVE_SYSROOT=<sysroot of that machine> \
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/manylinux-zig.cmake ...
#
# NATIVE_TARGET_ARCH defaults to this machine, NATIVE_SYSROOT to / (the
# host's own -dev packages); a sysroot is a tree of Debian packages of the
# target (tools/provision-python --sysroot ARCH).  The libraries the module
# links come from there: shared ones (libz.so) are linked dynamically;
# static ones must be position-independent (Debian's libdeflate.a is; libz.a
# is not).  Their headers, and the target's pyconfig.h, are put in a
# directory of their own: the root's /usr/include may hold glibc headers,
# which must not mix with zig's.  Everything else (zig's libc, libc++) comes
# with zig, for every target alike.
get_filename_component(_native_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
if(DEFINED ENV{NATIVE_TARGET_ARCH} AND NOT "$ENV{NATIVE_TARGET_ARCH}" STREQUAL "")
  set(_native_arch $ENV{NATIVE_TARGET_ARCH})
else()
  set(_native_arch ${CMAKE_HOST_SYSTEM_PROCESSOR})
endif()
if(DEFINED ENV{NATIVE_SYSROOT} AND NOT "$ENV{NATIVE_SYSROOT}" STREQUAL "")
  set(_native_sysroot $ENV{NATIVE_SYSROOT})
else()
  set(_native_sysroot "")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${_native_arch})
set(CMAKE_CXX_COMPILER ${_native_root}/tools/zig-c++)
set(CMAKE_LIBRARY_ARCHITECTURE ${_native_arch}-linux-gnu)
if(_native_sysroot)
  # Libraries and headers from the sysroot only; programs from the host.
  set(CMAKE_FIND_ROOT_PATH ${_native_sysroot})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
endif()

# zig's libc++ is linked statically by default; -static-libstdc++ is g++'s.
set(NATIVE_STATIC_CXX_RUNTIME OFF CACHE BOOL "" FORCE)

set(_native_headers ${CMAKE_BINARY_DIR}/target-headers)
set(_native_include ${_native_sysroot}/usr/include)
file(MAKE_DIRECTORY ${_native_headers}/${_native_arch}-linux-gnu)
foreach(_header zlib.h zconf.h libdeflate.h)
  foreach(_dir ${_native_include} ${_native_include}/${_native_arch}-linux-gnu)
    if(EXISTS ${_dir}/${_header} AND NOT EXISTS ${_native_headers}/${_header})
      file(CREATE_LINK ${_dir}/${_header} ${_native_headers}/${_header} SYMBOLIC)
    endif()
  endforeach()
endforeach()
# Debian's python3.X/pyconfig.h includes <${arch}-linux-gnu/python3.X/pyconfig.h>
# for the machine it is compiled for: the target's comes from the sysroot (the
# host interpreter's include directory has the host's).
if(_native_sysroot)
  file(GLOB _native_pyconfigs ${_native_include}/${_native_arch}-linux-gnu/python3.*)
  foreach(_dir ${_native_pyconfigs})
    get_filename_component(_name ${_dir} NAME)
    if(NOT EXISTS ${_native_headers}/${_native_arch}-linux-gnu/${_name})
      file(CREATE_LINK ${_dir} ${_native_headers}/${_native_arch}-linux-gnu/${_name} SYMBOLIC)
    endif()
  endforeach()
endif()
# find_path() looks there instead of /usr/include; every compile sees it.
list(PREPEND CMAKE_INCLUDE_PATH ${_native_headers})
set(CMAKE_IGNORE_PATH /usr/include /usr/local/include)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_native_headers}")
