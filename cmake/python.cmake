# The extension module, built for the free-threading stable ABI of 3.15
# ("abi3t"): Py_LIMITED_API 3.15 with Py_TARGET_ABI3T, loaded on GIL and
# free-threaded interpreters alike.
#
# Include directories come from the interpreter itself: a relocated install
# (Debian's packages extracted into a private prefix) reports its real header
# directory through sysconfig.get_path("include"), and Debian's pyconfig.h
# needs that directory's parent as well (multiarch include).
if(NOT Python_EXECUTABLE)
  find_program(Python_EXECUTABLE NAMES python3.15 python3 REQUIRED)
endif()
execute_process(
  COMMAND ${Python_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_path('include'))"
  OUTPUT_VARIABLE NATIVE_PYTHON_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(NATIVE_PYTHON_INCLUDE_PARENT ${NATIVE_PYTHON_INCLUDE} DIRECTORY)
if(NOT EXISTS ${NATIVE_PYTHON_INCLUDE}/Python.h)
  message(FATAL_ERROR "no Python.h in ${NATIVE_PYTHON_INCLUDE} (${Python_EXECUTABLE})")
endif()

set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/python)
file(GLOB NATIVE_LIB_SOURCES CONFIGURE_DEPENDS src/lib/*.cpp)
list(FILTER NATIVE_LIB_SOURCES EXCLUDE REGEX "/module_export\\.cpp$")

# The interpreter frame (errors, conversion, functions) as an object library,
# so that the test-only probe module can share it with the real module.
add_library(native_frame OBJECT ${NATIVE_LIB_SOURCES})
target_include_directories(native_frame PUBLIC src
  ${NATIVE_PYTHON_INCLUDE} ${NATIVE_PYTHON_INCLUDE_PARENT})
target_compile_definitions(native_frame PUBLIC
  Py_LIMITED_API=0x030f0000 Py_TARGET_ABI3T=0x030f0000)
set_target_properties(native_frame PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

function(native_add_extension name export_map)
  add_library(${name} MODULE ${ARGN} $<TARGET_OBJECTS:native_frame>)
  target_include_directories(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(${name} PRIVATE
    $<TARGET_PROPERTY:native_frame,INTERFACE_COMPILE_DEFINITIONS>)
  target_link_libraries(${name} PRIVATE native_codecs)
  # Only the export hook is visible: the version script keeps every other
  # symbol local, including the weak instantiations of standard-library
  # templates; libstdc++ and libgcc are linked in so the module does not
  # depend on the host's C++ runtime version.
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${export_map}
    -Wl,--no-undefined-version -static-libstdc++ -static-libgcc)
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".abi3t.so"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${export_map})
endfunction()

native_add_extension(_native ${CMAKE_CURRENT_SOURCE_DIR}/src/lib/export.map
  src/lib/module_export.cpp)
set_target_properties(_native PROPERTIES OUTPUT_NAME _native)

if(SKBUILD)
  install(TARGETS _native LIBRARY DESTINATION .)
endif()

# A second module, for the tests only, that exercises the frame's fault and
# cache paths which no input to the real module can reach.
if(NATIVE_BUILD_TESTS AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/frame_probe.cpp)
  native_add_extension(_frame_probe ${CMAKE_CURRENT_SOURCE_DIR}/tests/probe/export.map
    tests/probe/frame_probe.cpp)
endif()
