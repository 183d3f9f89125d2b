# Toolchain for the release wheels: tools/zig-c++ (zig's clang and libc++
# against glibc 2.17), so that the module needs nothing newer than
# manylinux2014 offers.  Used by tools/build-release-wheels:
#
#   NATIVE_ZIG_PYTHON=<python with ziglang> \
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/manylinux-zig.cmake ...
#
# The libraries the module links come from the host (Debian's -dev
# packages): shared ones (libz.so) are linked dynamically and grafted into
# the wheel by auditwheel; static ones must be position-independent
# (libdeflate.a is; libz.a is not).  Their headers are put in a directory of
# their own: the host's /usr/include would mix the host's glibc headers with
# zig's.
get_filename_component(_native_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CXX_COMPILER ${_native_root}/tools/zig-c++)
set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)

# zig's libc++ is linked statically by default; -static-libstdc++ is g++'s.
set(NATIVE_STATIC_CXX_RUNTIME OFF CACHE BOOL "" FORCE)

set(_native_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_native_host_headers})
foreach(_header zlib.h zconf.h libdeflate.h)
  if(EXISTS /usr/include/${_header} AND NOT EXISTS ${_native_host_headers}/${_header})
    file(CREATE_LINK /usr/include/${_header} ${_native_host_headers}/${_header} SYMBOLIC)
  endif()
endforeach()
# find_path() looks there instead of /usr/include; every compile sees it.
list(PREPEND CMAKE_INCLUDE_PATH ${_native_host_headers})
set(CMAKE_IGNORE_PATH /usr/include /usr/local/include)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_native_host_headers}")
