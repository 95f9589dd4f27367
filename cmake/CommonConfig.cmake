# One interface target carries the language standard, warnings and sanitizer flags
# for every target of the project.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
# Rebuilds of the several build folders (normal, sanitizers) share one compiler cache.
find_program(PANSIFT_CCACHE ccache)
if(PANSIFT_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER "${PANSIFT_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${PANSIFT_CCACHE}")
endif()
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

option(PANSIFT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(PANSIFT_TSAN "Build with ThreadSanitizer" OFF)
option(PANSIFT_FUZZ "Build the fuzz targets with libFuzzer (clang only)" OFF)
if(PANSIFT_TSAN AND (PANSIFT_SANITIZE OR PANSIFT_FUZZ))
  message(FATAL_ERROR "PANSIFT_TSAN cannot be combined with AddressSanitizer")
endif()
if(PANSIFT_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "PANSIFT_FUZZ needs clang (configure with CC=clang CXX=clang++)")
endif()

add_library(pansift_options INTERFACE)
target_compile_features(pansift_options INTERFACE cxx_std_20)
target_compile_options(pansift_options INTERFACE -Wall -Wextra -Wno-missing-field-initializers
  -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual -Wpedantic)
# CI builds with warnings as errors, so a warning never lands.
option(PANSIFT_WERROR "Treat warnings as errors" OFF)
if(PANSIFT_WERROR)
  target_compile_options(pansift_options INTERFACE -Werror)
endif()
# Qt safety macros: no implicit casts from const char* or to QString's ascii, no
# keywords that clash with other libraries.
target_compile_definitions(pansift_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER QT_NO_URL_CAST_FROM_STRING)
# Release builds are hardened as Debian hardens its packages: checked buffer
# functions, a stack protector, and relocations made read-only before the program
# starts. The sanitizer and fuzz builds keep to their own instrumentation.
if(NOT PANSIFT_SANITIZE AND NOT PANSIFT_TSAN AND NOT PANSIFT_FUZZ)
  set(_release "$<CONFIG:Release,RelWithDebInfo>")
  # Undefined first: a compiler that sets its own level would warn of a redefinition.
  target_compile_options(pansift_options INTERFACE
    "$<${_release}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2;-fstack-protector-strong>")
  target_link_options(pansift_options INTERFACE "$<${_release}:LINKER:-z,relro,-z,now>")
endif()
if(PANSIFT_SANITIZE)
  target_compile_options(pansift_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(pansift_options INTERFACE -fsanitize=address,undefined)
endif()
if(PANSIFT_TSAN)
  target_compile_options(pansift_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(pansift_options INTERFACE -fsanitize=thread)
endif()
# Every library is instrumented for coverage; only the fuzz targets link libFuzzer
# itself (fuzz/CMakeLists.txt), so the libraries stay usable by other programs.
if(PANSIFT_FUZZ)
  target_compile_options(pansift_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(pansift_options INTERFACE -fsanitize=address,undefined)
endif()

# pansift_module(NAME FOLDERS dir... [ONLY regex] [EXCLUDE regex] [DEPS lib...]): a static library of
# every source file in the given folders of src/, so each subsystem builds and links
# on its own and a half-finished neighbour cannot break it.
function(pansift_module name)
  cmake_parse_arguments(PM "" "EXCLUDE;ONLY" "FOLDERS;DEPS" ${ARGN})
  set(_srcs)
  foreach(_dir IN LISTS PM_FOLDERS)
    file(GLOB _found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/${_dir}/*.cpp")
    list(APPEND _srcs ${_found})
  endforeach()
  if(PM_ONLY)
    list(FILTER _srcs INCLUDE REGEX "${PM_ONLY}")
  endif()
  if(PM_EXCLUDE)
    list(FILTER _srcs EXCLUDE REGEX "${PM_EXCLUDE}")
  endif()
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC pansift_options ${PM_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE pansift_options ${PM_DEPS})
  endif()
endfunction()

# pansift_test(NAME FOLDER dir DEPS lib...): one GoogleTest binary from every test
# file in tests/<dir>, registered with ctest.
function(pansift_test name)
  cmake_parse_arguments(PT "" "FOLDER" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/${PT_FOLDER}/*.cpp")
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE pansift_test_main ${PT_DEPS})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    PROPERTIES LABELS ${PT_FOLDER})
endfunction()
