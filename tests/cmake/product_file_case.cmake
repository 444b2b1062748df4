# Reads one product file as the build does: cmake -DPRODUCT_FILE=... -DSOURCE_DIR=...
# -DBINARY_DIR=... -P product_file_case.cmake
set (PROJECT_SOURCE_DIR "${SOURCE_DIR}")
set (PROJECT_VERSION "0.0.0")
set (CMAKE_BINARY_DIR "${BINARY_DIR}")
cmake_policy (SET CMP0126 NEW)   # the file named here, not the cache's default
cmake_policy (SET CMP0057 NEW)   # IN_LIST, as the build has it
set (OH_PRODUCT_FILE "${PRODUCT_FILE}")
include ("${SOURCE_DIR}/cmake/Product.cmake")
