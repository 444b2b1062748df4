# Reads one product file as the build does: cmake -DPRODUCT_FILE=... -DSOURCE_DIR=...
# -DBINARY_DIR=... -P product_file_case.cmake
set (PROJECT_SOURCE_DIR "${SOURCE_DIR}")
set (PROJECT_VERSION "0.0.0")
set (CMAKE_BINARY_DIR "${BINARY_DIR}")
cmake_minimum_required (VERSION 3.22)   # the policies of the build, CMP0126 among them: the file named here, not the cache's default
set (OH_PRODUCT_FILE "${PRODUCT_FILE}")
include ("${SOURCE_DIR}/cmake/Product.cmake")
