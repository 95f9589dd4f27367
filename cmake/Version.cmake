# pansift_version: the generated header pansift_version.h (the project's version and
# git commit), shared by both programs for their --version. It is written again at
# every build (cmake/WriteVersionHeader.cmake) and changes only with the commit.
set(_version_dir "${PROJECT_BINARY_DIR}/generated")
set(_version_header "${_version_dir}/pansift_version.h")
add_custom_target(pansift_version_header
  COMMAND "${CMAKE_COMMAND}" "-DVERSION=${PROJECT_VERSION}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
          "-DOUTPUT=${_version_header}" -P "${PROJECT_SOURCE_DIR}/cmake/WriteVersionHeader.cmake"
  BYPRODUCTS "${_version_header}"
  VERBATIM)
add_library(pansift_version INTERFACE)
target_include_directories(pansift_version INTERFACE "${_version_dir}")
add_dependencies(pansift_version pansift_version_header)
