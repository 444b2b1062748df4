# libdeflate: whole-buffer inflate and CRC-32 for the install. On Linux it is
# Debian's libdeflate-dev (scripts/setup installs it); the Windows build finds
# the static library that scripts/libdeflate-windows puts into its prefix.
# Defines the target oh_libdeflate.
find_path (OH_LIBDEFLATE_INCLUDE_DIR libdeflate.h)
find_library (OH_LIBDEFLATE_LIBRARY NAMES deflate)

if (NOT OH_LIBDEFLATE_INCLUDE_DIR OR NOT OH_LIBDEFLATE_LIBRARY)
    message (FATAL_ERROR "libdeflate not found: run scripts/setup (Linux) or scripts/libdeflate-windows <prefix> (Windows)")
endif()

add_library (oh_libdeflate INTERFACE)
target_include_directories (oh_libdeflate SYSTEM INTERFACE "${OH_LIBDEFLATE_INCLUDE_DIR}")
target_link_libraries (oh_libdeflate INTERFACE "${OH_LIBDEFLATE_LIBRARY}")
