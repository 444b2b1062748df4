# Script mode: -DPERES=<peres> -DMODULE=<file> -DWORK_DIR=<scratch folder> -DEXPECTED=<a.b.c.d>
#
# Reads a module's file version with Debian's pev, a PE reader of its own:
# "peres -x" walks the PE headers and the resource tree and extracts the
# version resource; the VS_FIXEDFILEINFO in it must hold EXPECTED.
# ("peres -v" is not used: pev 0.81 reads the fixed file info 8 bytes before
# its place, so its "File Version" line shows the signature for any module.)
file (REMOVE_RECURSE "${WORK_DIR}")
file (MAKE_DIRECTORY "${WORK_DIR}")

execute_process (COMMAND "${PERES}" -x "${MODULE}"
    WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if (NOT result EQUAL 0)
    message (FATAL_ERROR "peres failed on ${MODULE}: ${errors}")
endif()

file (GLOB_RECURSE extracted "${WORK_DIR}/resources/versions/*")
list (LENGTH extracted count)
if (NOT count EQUAL 1)
    message (FATAL_ERROR "expected one version resource in ${MODULE}, peres found ${count}")
endif()

# VS_VERSIONINFO: 6-byte header, "VS_VERSION_INFO" in UTF-16 with its NUL,
# padding to 40, then VS_FIXEDFILEINFO: signature, structure version, file version.
file (READ "${extracted}" hex HEX)
string (SUBSTRING "${hex}" 80 8 signature)
if (NOT signature STREQUAL "bd04effe")
    message (FATAL_ERROR "no VS_FIXEDFILEINFO signature in the version resource of ${MODULE}")
endif()

function (word_at hex_offset out)
    string (SUBSTRING "${hex}" ${hex_offset} 4 le)
    string (SUBSTRING "${le}" 0 2 lo)
    string (SUBSTRING "${le}" 2 2 hi)
    math (EXPR value "0x${hi}${lo}")
    set (${out} ${value} PARENT_SCOPE)
endfunction()

word_at (100 major)  # dwFileVersionMS, high word
word_at (96 minor)   # dwFileVersionMS, low word
word_at (108 patch)  # dwFileVersionLS, high word
word_at (104 build)  # dwFileVersionLS, low word
set (version "${major}.${minor}.${patch}.${build}")

if (NOT version STREQUAL EXPECTED)
    message (FATAL_ERROR "${MODULE}: pev reads file version ${version}, expected ${EXPECTED}")
endif()
message (STATUS "${MODULE}: file version ${version}")
