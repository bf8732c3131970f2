# Read by cpack: the package is made only from the Release tree of the deb
# target, never from a development tree with debugging builds.
if(NOT CPACK_TESSEL_BUILD_TYPE STREQUAL "Release")
  message(FATAL_ERROR "The package is built Release: use \"cmake --build <build folder> --target deb\" "
                      "(this tree is ${CPACK_TESSEL_BUILD_TYPE}).")
endif()
