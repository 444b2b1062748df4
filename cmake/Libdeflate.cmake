# libdeflate: whole-buffer inflate and CRC-32 for the install. On Linux it is
# Debian's libdeflate-dev (scripts/setup installs it). The Windows build uses
# the static library that scripts/libdeflate-windows builds from Debian's
# source package into OH_WINDOWS_DEPS_PREFIX; it is built here on first
# configure if it is not there yet. Defines the target oh_libdeflate.
if (WIN32 AND OH_WINDOWS_DEPS_PREFIX AND NOT EXISTS "${OH_WINDOWS_DEPS_PREFIX}/lib/libdeflate.a")
    execute_process (
        COMMAND "${PROJECT_SOURCE_DIR}/scripts/libdeflate-windows" "${OH_WINDOWS_DEPS_PREFIX}"
        RESULT_VARIABLE result)

    if (NOT result EQUAL 0)
        message (FATAL_ERROR "scripts/libdeflate-windows failed")
    endif()
endif()

find_path (OH_LIBDEFLATE_INCLUDE_DIR libdeflate.h)
find_library (OH_LIBDEFLATE_LIBRARY NAMES deflate)

if (NOT OH_LIBDEFLATE_INCLUDE_DIR OR NOT OH_LIBDEFLATE_LIBRARY)
    message (FATAL_ERROR "libdeflate not found: run scripts/setup (Linux) or scripts/libdeflate-windows <prefix> (Windows)")
endif()

add_library (oh_libdeflate INTERFACE)
target_include_directories (oh_libdeflate SYSTEM INTERFACE "${OH_LIBDEFLATE_INCLUDE_DIR}")
target_link_libraries (oh_libdeflate INTERFACE "${OH_LIBDEFLATE_LIBRARY}")
