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
# needs that directory's parent as well (multiarch include).
if(NOT Python_EXECUTABLE)
  find_program(Python_EXECUTABLE NAMES python3.15 python3 REQUIRED)
endif()
execute_process(
  COMMAND ${Python_EXECUTABLE} -c "import sys, sysconfig; print(sysconfig.get_path('include')); print(sys.version_info[1])"
  OUTPUT_VARIABLE NATIVE_PYTHON_FACTS OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" NATIVE_PYTHON_FACTS "${NATIVE_PYTHON_FACTS}")
list(GET NATIVE_PYTHON_FACTS 0 NATIVE_PYTHON_INCLUDE)
list(GET NATIVE_PYTHON_FACTS 1 NATIVE_PYTHON_MINOR)
get_filename_component(NATIVE_PYTHON_INCLUDE_PARENT ${NATIVE_PYTHON_INCLUDE} DIRECTORY)
if(NOT EXISTS ${NATIVE_PYTHON_INCLUDE}/Python.h)
  message(FATAL_ERROR "no Python.h in ${NATIVE_PYTHON_INCLUDE} (${Python_EXECUTABLE})")
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

function(native_add_extension name export_map)
  add_library(${name} MODULE ${ARGN} $<TARGET_OBJECTS:native_frame>)
  target_include_directories(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_COMPILE_DEFINITIONS>)
  target_link_libraries(${name} PRIVATE native_codecs native_process_cache)
  # Only the export hook is visible: the version script keeps every other
  # symbol local, including the weak instantiations of standard-library
  # templates; the C++ runtime is linked in so the module does not depend on
  # the host's C++ runtime version.
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${export_map} -Wl,--no-undefined-version)
  if(NATIVE_STATIC_CXX_RUNTIME)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".${NATIVE_ABI}.so"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${export_map})
endfunction()

native_add_extension(_native
  ${CMAKE_CURRENT_SOURCE_DIR}/src/lib/export${NATIVE_MAP_SUFFIX}.map ${NATIVE_ENTRY_SOURCE})
set_target_properties(_native PROPERTIES OUTPUT_NAME _native)

# The type stub is a stub-only package beside the library (PEP 561: a
# top-level module's stubs are found as <module>-stubs), in the build tree as
# in a wheel.
set(NATIVE_STUB src/lib/_native-stubs/__init__.pyi)
configure_file(${NATIVE_STUB} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/_native-stubs/__init__.pyi COPYONLY)

if(SKBUILD)
  install(TARGETS _native LIBRARY DESTINATION .)
  install(FILES ${NATIVE_STUB} DESTINATION _native-stubs)
endif()

# A second module, for the tests only, that exercises the frame's fault and
# cache paths which no input to the real module can reach.
if(NATIVE_BUILD_PROBE AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/frame_probe.cpp)
  native_add_extension(_frame_probe
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/export${NATIVE_MAP_SUFFIX}.map
    tests/probe/frame_probe.cpp)
endif()
