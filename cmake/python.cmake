# The extension module, in one of two builds of the same sources:
#
#   abi3t  _native.abi3t.so, for CPython 3.15 and later: Py_LIMITED_API 3.15
#          with Py_TARGET_ABI3T, loaded on GIL and free-threaded interpreters
#          alike; exports only the slot-based hook PyModExport__native.
#   abi3   _native.abi3.so, for CPython 3.12 to 3.14 (GIL builds; 3.15 GIL
#          builds load it too): Py_LIMITED_API 3.12; exports only the
#          initialisation function PyInit__native.
#
# NATIVE_STABLE_ABI picks one; left empty, the interpreter decides (abi3t
# from 3.15 on, abi3 before).
#
# Include directories come from the interpreter itself: a relocated install
# (Debian's packages extracted into a private prefix) reports its real header
# directory through sysconfig.get_path("include"), and Debian's pyconfig.h
# needs that directory's parent as well (multiarch include).  On Windows the
# module links against the interpreter's import library of the stable ABI
# (libs/python3.lib, or python3t.lib for abi3t), found beside it.
#
# A cross build with no interpreter of the target gives instead:
#   NATIVE_PYTHON_INCLUDE   a directory with Python.h (any platform's: the
#                           limited API's headers are the same everywhere)
#   NATIVE_PYTHON_MINOR     their minor version (15 for 3.15)
#   NATIVE_PYCONFIG_DIR     the target's pyconfig.h, which replaces the one
#                           beside Python.h
#   NATIVE_PYTHON_LIBRARY   Windows: the import library to link against
set(NATIVE_PYTHON_INCLUDE "" CACHE PATH "Python.h's directory (default: the interpreter's)")
set(NATIVE_PYTHON_MINOR "" CACHE STRING "the minor version of NATIVE_PYTHON_INCLUDE's headers")
set(NATIVE_PYCONFIG_DIR "" CACHE PATH "a directory whose pyconfig.h replaces Python.h's own")
set(NATIVE_PYTHON_LIBRARY "" CACHE FILEPATH
  "Windows: the stable ABI's import library (default: the interpreter's libs/python3[t].lib)")
if(NATIVE_PYTHON_INCLUDE STREQUAL "")
  if(NOT Python_EXECUTABLE)
    find_program(Python_EXECUTABLE NAMES python3.15 python3 python REQUIRED)
  endif()
  execute_process(
    COMMAND ${Python_EXECUTABLE} -c "import sys, sysconfig; print(sysconfig.get_path('include')); print(sys.version_info[1]); print(sys.base_prefix)"
    OUTPUT_VARIABLE NATIVE_PYTHON_FACTS OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" NATIVE_PYTHON_FACTS "${NATIVE_PYTHON_FACTS}")
  list(GET NATIVE_PYTHON_FACTS 0 NATIVE_PYTHON_INCLUDE)
  list(GET NATIVE_PYTHON_FACTS 1 NATIVE_PYTHON_MINOR)
  list(GET NATIVE_PYTHON_FACTS 2 NATIVE_PYTHON_BASE_PREFIX)
  file(TO_CMAKE_PATH "${NATIVE_PYTHON_INCLUDE}" NATIVE_PYTHON_INCLUDE)
  file(TO_CMAKE_PATH "${NATIVE_PYTHON_BASE_PREFIX}" NATIVE_PYTHON_BASE_PREFIX)
elseif(NATIVE_PYTHON_MINOR STREQUAL "")
  message(FATAL_ERROR "NATIVE_PYTHON_INCLUDE needs NATIVE_PYTHON_MINOR (15 for CPython 3.15)")
endif()
get_filename_component(NATIVE_PYTHON_INCLUDE_PARENT ${NATIVE_PYTHON_INCLUDE} DIRECTORY)
if(NOT EXISTS ${NATIVE_PYTHON_INCLUDE}/Python.h)
  message(FATAL_ERROR "no Python.h in ${NATIVE_PYTHON_INCLUDE} (${Python_EXECUTABLE})")
endif()
if(NATIVE_PYCONFIG_DIR)
  # Python.h includes "pyconfig.h" from its own directory first: the headers
  # are linked into a directory of the build tree with the target's
  # pyconfig.h in place of theirs.
  set(_native_shadow ${CMAKE_BINARY_DIR}/python-include)
  file(REMOVE_RECURSE ${_native_shadow})
  file(MAKE_DIRECTORY ${_native_shadow})
  file(GLOB _native_entries RELATIVE ${NATIVE_PYTHON_INCLUDE} ${NATIVE_PYTHON_INCLUDE}/*)
  foreach(_entry ${_native_entries})
    if(NOT _entry STREQUAL "pyconfig.h")
      file(CREATE_LINK ${NATIVE_PYTHON_INCLUDE}/${_entry} ${_native_shadow}/${_entry} SYMBOLIC)
    endif()
  endforeach()
  file(CREATE_LINK ${NATIVE_PYCONFIG_DIR}/pyconfig.h ${_native_shadow}/pyconfig.h SYMBOLIC)
  set(NATIVE_PYTHON_INCLUDE ${_native_shadow})
  set(NATIVE_PYTHON_INCLUDE_PARENT ${NATIVE_PYCONFIG_DIR})
  message(WARNING "_native: pyconfig.h from ${NATIVE_PYCONFIG_DIR}, not the target interpreter's: "
    "the modules of this build are link checks, not release files")
endif()

set(NATIVE_STABLE_ABI "" CACHE STRING
  "abi3t (CPython 3.15+) or abi3 (CPython 3.12+); empty: follow the interpreter")
if(NATIVE_STABLE_ABI STREQUAL "")
  if(NATIVE_PYTHON_MINOR GREATER_EQUAL 15)
    set(NATIVE_ABI abi3t)
  else()
    set(NATIVE_ABI abi3)
  endif()
else()
  set(NATIVE_ABI ${NATIVE_STABLE_ABI})
endif()
if(NATIVE_ABI STREQUAL "abi3t")
  set(NATIVE_ABI_MIN_MINOR 15)
  set(NATIVE_ABI_DEFINITIONS Py_LIMITED_API=0x030f0000 Py_TARGET_ABI3T=0x030f0000)
  set(NATIVE_ENTRY_SOURCE src/lib/module_export.cpp)
  set(NATIVE_MAP_SUFFIX "")
elseif(NATIVE_ABI STREQUAL "abi3")
  set(NATIVE_ABI_MIN_MINOR 12)
  set(NATIVE_ABI_DEFINITIONS Py_LIMITED_API=0x030c0000)
  set(NATIVE_ENTRY_SOURCE src/lib/module_init_legacy.cpp)
  set(NATIVE_MAP_SUFFIX "_legacy")
else()
  message(FATAL_ERROR "NATIVE_STABLE_ABI must be abi3t, abi3 or empty, not '${NATIVE_STABLE_ABI}'")
endif()
if(NATIVE_PYTHON_MINOR LESS NATIVE_ABI_MIN_MINOR)
  message(FATAL_ERROR "the ${NATIVE_ABI} build needs CPython 3.${NATIVE_ABI_MIN_MINOR} or later "
    "headers; ${Python_EXECUTABLE} is 3.${NATIVE_PYTHON_MINOR}")
endif()
message(STATUS "_native: ${NATIVE_ABI} build, headers of CPython 3.${NATIVE_PYTHON_MINOR}")

if(WIN32)
  if(NATIVE_ABI STREQUAL "abi3t")
    set(_native_python_dll python3t)
  else()
    set(_native_python_dll python3)
  endif()
  if(NOT NATIVE_PYTHON_LIBRARY AND NATIVE_PYTHON_BASE_PREFIX)
    set(NATIVE_PYTHON_LIBRARY ${NATIVE_PYTHON_BASE_PREFIX}/libs/${_native_python_dll}.lib)
  endif()
  if(NOT EXISTS "${NATIVE_PYTHON_LIBRARY}")
    message(FATAL_ERROR "no import library of ${_native_python_dll}.dll at '${NATIVE_PYTHON_LIBRARY}' "
      "(set NATIVE_PYTHON_LIBRARY)")
  endif()
endif()

option(NATIVE_STATIC_CXX_RUNTIME
  "Link libstdc++ and libgcc into the module (g++; zig links its libc++ in by itself)" ON)

set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/python)
# The interpreter frame (errors, conversion, functions) as an object library,
# so that the test-only probe module can share it with the real module.  The
# entry point (export hook or initialisation function) is added per build.
add_library(native_frame OBJECT
  # the frame: failure values and the entry guard, result objects, caches,
  # argument binding and conversion
  src/lib/pending_error.cpp
  src/lib/describe_exception.cpp
  src/lib/decode_failure.cpp
  src/lib/entry_guard.cpp
  src/lib/result_objects.cpp
  src/lib/interpreter_caches.cpp
  src/lib/arguments.cpp
  # the module: method table and exec step, then one file per function
  src/lib/module_definition.cpp
  src/lib/ping.cpp
  src/lib/lzrw1_decompress.cpp
  src/lib/decode_speed_blob.cpp
  src/lib/zlib_decompress.cpp
  src/lib/decompress_grd_blocks.cpp
  src/lib/decode_fixed_width_strings_ucs4.cpp)
target_include_directories(native_frame PUBLIC src
  ${NATIVE_PYTHON_INCLUDE} ${NATIVE_PYTHON_INCLUDE_PARENT})
target_compile_definitions(native_frame PUBLIC ${NATIVE_ABI_DEFINITIONS})
set_target_properties(native_frame PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# Every header of src/lib compiles on its own (after python.h, which each
# includes first).
native_add_header_check(native_lib_headers src/lib)
target_include_directories(native_lib_headers PRIVATE
  $<TARGET_PROPERTY:native_frame,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_definitions(native_lib_headers PRIVATE
  $<TARGET_PROPERTY:native_frame,INTERFACE_COMPILE_DEFINITIONS>)
target_link_libraries(native_lib_headers PRIVATE native_process_cache)

# The entry point is the only exported symbol, on every platform:
# - ELF: the version script keeps every other symbol local, including the
#   weak instantiations of standard-library templates;
# - Mach-O: hidden visibility keeps the module's own symbols in, and Apple's
#   linker takes an export list (-exported_symbol).  zig's Mach-O linker
#   takes none: the replaceable operators new and delete of the libc++abi
#   it links in stay exported beside the entry point (harmless under the
#   two-level namespace: other images bind their own).  The interpreter's
#   symbols are looked up when the module loads (-undefined dynamic_lookup),
#   as for every extension module there.  A shared library, not a bundle:
#   zig's linker does not take -bundle;
# - Windows: the entry point alone is dllexport (PyMODEXPORT_FUNC,
#   PyMODINIT_FUNC), so the linker exports nothing else; the interpreter's
#   symbols come from its import library.
# The libraries linked into the modules keep their symbols to themselves
# too: without an export list (zig on macOS) visibility is all that hides
# them.
set_target_properties(native_codecs native_process_cache PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
if(APPLE)
  include(CheckLinkerFlag)
  check_linker_flag(CXX "-Wl,-exported_symbol,_main" NATIVE_LINKER_TAKES_EXPORT_LIST)
endif()
function(native_add_extension name export_map entry)
  if(APPLE)
    add_library(${name} SHARED ${ARGN} $<TARGET_OBJECTS:native_frame>)
    target_link_options(${name} PRIVATE -undefined dynamic_lookup)
    if(NATIVE_LINKER_TAKES_EXPORT_LIST)
      target_link_options(${name} PRIVATE -Wl,-exported_symbol,_${entry})
    endif()
  else()
    add_library(${name} MODULE ${ARGN} $<TARGET_OBJECTS:native_frame>)
  endif()
  target_include_directories(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_COMPILE_DEFINITIONS>)
  target_link_libraries(${name} PRIVATE native_codecs native_process_cache)
  if(WIN32)
    target_link_libraries(${name} PRIVATE ${NATIVE_PYTHON_LIBRARY})
  elseif(NOT APPLE)
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${export_map} -Wl,--no-undefined-version)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${export_map})
  endif()
  # The C++ runtime is linked in so the module does not depend on the
  # host's C++ runtime version (g++; zig links its libc++ in by itself).
  if(NATIVE_STATIC_CXX_RUNTIME)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  if(WIN32)
    set(suffix ".pyd")
  else()
    set(suffix ".${NATIVE_ABI}.so")
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ${suffix}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(NATIVE_MUSL_LIBC)
    # zig names musl "libc.so" (its link-time name, which a musl system has
    # only with its development files); the loader knows it by its soname.
    find_program(NATIVE_PATCHELF patchelf REQUIRED)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${NATIVE_PATCHELF} --replace-needed libc.so ${NATIVE_MUSL_LIBC} $<TARGET_FILE:${name}>
      VERBATIM)
  endif()
endfunction()

if(NATIVE_ABI STREQUAL "abi3t")
  set(NATIVE_ENTRY PyModExport__native)
else()
  set(NATIVE_ENTRY PyInit__native)
endif()
native_add_extension(_native
  ${CMAKE_CURRENT_SOURCE_DIR}/src/lib/export${NATIVE_MAP_SUFFIX}.map ${NATIVE_ENTRY}
  ${NATIVE_ENTRY_SOURCE})
set_target_properties(_native PROPERTIES OUTPUT_NAME _native)

# The type stub is a stub-only package beside the library (PEP 561: a
# top-level module's stubs are found as <module>-stubs), in the build tree as
# in a wheel.
set(NATIVE_STUB src/lib/_native-stubs/__init__.pyi)
configure_file(${NATIVE_STUB} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/_native-stubs/__init__.pyi COPYONLY)

if(SKBUILD)
  install(TARGETS _native LIBRARY DESTINATION . RUNTIME DESTINATION .)
  install(FILES ${NATIVE_STUB} DESTINATION _native-stubs)
endif()

# A second module, for the tests only, that exercises the frame's fault and
# cache paths which no input to the real module can reach.
if(NATIVE_BUILD_PROBE AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/frame_probe.cpp)
  string(REPLACE "_native" "_frame_probe" _native_probe_entry ${NATIVE_ENTRY})
  native_add_extension(_frame_probe
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/export${NATIVE_MAP_SUFFIX}.map ${_native_probe_entry}
    tests/probe/frame_probe.cpp)
endif()
