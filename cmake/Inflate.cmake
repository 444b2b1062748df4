# ISA-L's igzip: the install's inflate, streamed, with the CRC-32 of what comes
# out. On Linux it is Debian's libisal-dev (scripts/setup installs it). The
# Windows build uses the static library that scripts/inflate-windows builds
# from Debian's source package into OH_WINDOWS_DEPS_PREFIX, on first configure
# if it is not there yet. Defines the target oh_inflate.
if (WIN32 AND OH_WINDOWS_DEPS_PREFIX AND NOT EXISTS "${OH_WINDOWS_DEPS_PREFIX}/lib/libisal.a")
    execute_process (
        COMMAND "${PROJECT_SOURCE_DIR}/scripts/inflate-windows" "${OH_WINDOWS_DEPS_PREFIX}"
        RESULT_VARIABLE result)

    if (NOT result EQUAL 0)
        message (FATAL_ERROR "scripts/inflate-windows failed")
    endif()
endif()

find_path (OH_ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
find_library (OH_ISAL_LIBRARY NAMES isal)

if (NOT OH_ISAL_INCLUDE_DIR OR NOT OH_ISAL_LIBRARY)
    message (FATAL_ERROR "ISA-L not found: run scripts/setup (Linux) or scripts/inflate-windows <prefix> (Windows)")
endif()

add_library (oh_inflate INTERFACE)
target_include_directories (oh_inflate SYSTEM INTERFACE "${OH_ISAL_INCLUDE_DIR}")
target_link_libraries (oh_inflate INTERFACE "${OH_ISAL_LIBRARY}")
