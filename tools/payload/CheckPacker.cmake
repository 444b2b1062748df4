# Script mode: -DPACK=<oh_payload_pack> -DWORK_DIR=<scratch folder>
#
# Packs small fixture bundles and checks the packer's rules: the entry order
# (own Contents folder first, then files before sub-folders, names compared
# without case), entries for empty folders, byte-identical repeat runs, and
# refusal of what a payload cannot carry, leaving no archive behind.
file (REMOVE_RECURSE "${WORK_DIR}")
set (b "${WORK_DIR}/Demo.vst3")
file (MAKE_DIRECTORY "${b}/Contents/Empty" "${b}/Contents/alpha" "${b}/Contents/Zeta")
foreach (f "b.txt" "A.txt" "c.TXT" "Contents/top.bin" "Contents/alpha/a.bin" "Contents/Zeta/z.bin")
    file (WRITE "${b}/${f}" "content of ${f}\n")
endforeach()
file (WRITE "${WORK_DIR}/Demo.clap" "")

# Entry names of an archive, read from its central directory.
function (archive_names archive out)
    file (READ "${archive}" hex HEX)
    string (LENGTH "${hex}" length)

    function (le hex_offset bytes result)
        set (value "")
        math (EXPR last "${bytes} - 1")
        foreach (i RANGE ${last} 0 -1)
            math (EXPR at "${hex_offset} + 2 * ${i}")
            string (SUBSTRING "${hex}" ${at} 2 byte)
            string (APPEND value "${byte}")
        endforeach()
        math (EXPR value "0x${value}")
        set (${result} ${value} PARENT_SCOPE)
    endfunction()

    math (EXPR end "${length} - 44")
    string (SUBSTRING "${hex}" ${end} 8 signature)
    if (NOT signature STREQUAL "504b0506")
        message (FATAL_ERROR "${archive}: no end record in the last 22 bytes")
    endif()
    math (EXPR at "${end} + 20")
    le (${at} 2 count)
    math (EXPR at "${end} + 32")
    le (${at} 4 offset)

    set (names)
    math (EXPR pos "2 * ${offset}")
    foreach (i RANGE 1 ${count})
        math (EXPR at "${pos} + 56")
        le (${at} 2 name_length)
        math (EXPR at "${pos} + 92")
        math (EXPR chars "2 * ${name_length}")
        string (SUBSTRING "${hex}" ${at} ${chars} name_hex)
        set (name "")
        math (EXPR last "${name_length} - 1")
        foreach (k RANGE 0 ${last})
            math (EXPR c "2 * ${k}")
            string (SUBSTRING "${name_hex}" ${c} 2 byte)
            math (EXPR code "0x${byte}")
            string (ASCII ${code} char)
            string (APPEND name "${char}")
        endforeach()
        list (APPEND names "${name}")
        math (EXPR pos "${pos} + 92 + ${chars}")
    endforeach()
    set (${out} "${names}" PARENT_SCOPE)
endfunction()

function (pack archive bundle)
    execute_process (COMMAND "${PACK}" "${archive}" "${bundle}" RESULT_VARIABLE result ERROR_VARIABLE errors)
    if (NOT result EQUAL 0)
        message (FATAL_ERROR "packing ${bundle} failed: ${errors}")
    endif()
endfunction()

# The message names the rule and the offending file.
function (expect_refused what bundle rule culprit)
    set (archive "${WORK_DIR}/refused.zip")
    execute_process (COMMAND "${PACK}" "${archive}" "${bundle}" RESULT_VARIABLE result ERROR_VARIABLE errors)
    if (result EQUAL 0)
        message (FATAL_ERROR "${what}: packed, should be refused")
    endif()
    string (FIND "${errors}" "rule \"${rule}\"" at_rule)
    string (FIND "${errors}" "${culprit}" at_culprit)
    if (at_rule LESS 0 OR at_culprit LESS 0)
        message (FATAL_ERROR "${what}: the message should name rule \"${rule}\" and ${culprit}: ${errors}")
    endif()
    if (EXISTS "${archive}" OR EXISTS "${archive}.part")
        message (FATAL_ERROR "${what}: refused, but left an archive behind")
    endif()
endfunction()

# Entry order of a folder bundle.
pack ("${WORK_DIR}/one.zip" "${b}")
archive_names ("${WORK_DIR}/one.zip" names)
set (expected
    "Demo.vst3\\Contents\\"
    "Demo.vst3\\A.txt"
    "Demo.vst3\\b.txt"
    "Demo.vst3\\c.TXT"
    "Demo.vst3\\Contents\\top.bin"
    "Demo.vst3\\Contents\\alpha\\a.bin"
    "Demo.vst3\\Contents\\Empty\\"
    "Demo.vst3\\Contents\\Zeta\\z.bin")
if (NOT names STREQUAL expected)
    message (FATAL_ERROR "entry order\n  got:      ${names}\n  expected: ${expected}")
endif()

# A single-file bundle, even an empty one, is one entry under its own name.
pack ("${WORK_DIR}/clap.zip" "${WORK_DIR}/Demo.clap")
archive_names ("${WORK_DIR}/clap.zip" names)
if (NOT names STREQUAL "Demo.clap")
    message (FATAL_ERROR "single file: got ${names}")
endif()

# Same input, same bytes; repacking over an archive replaces it.
pack ("${WORK_DIR}/two.zip" "${b}/")
execute_process (COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/one.zip" "${WORK_DIR}/two.zip" RESULT_VARIABLE differ)
if (differ)
    message (FATAL_ERROR "two runs over the same bundle gave different archives")
endif()
pack ("${WORK_DIR}/two.zip" "${WORK_DIR}/Demo.clap")
execute_process (COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/clap.zip" "${WORK_DIR}/two.zip" RESULT_VARIABLE differ)
if (differ)
    message (FATAL_ERROR "packing over an existing archive did not replace it")
endif()

# What a payload cannot carry is refused.
expect_refused ("missing bundle" "${WORK_DIR}/Missing.vst3" "bundle form" "Missing.vst3")

file (MAKE_DIRECTORY "${WORK_DIR}/Linked.vst3")
file (CREATE_LINK "${b}/A.txt" "${WORK_DIR}/Linked.vst3/link.txt" SYMBOLIC)
expect_refused ("symbolic link" "${WORK_DIR}/Linked.vst3" "no links" "Linked.vst3/link.txt")

string (ASCII 195 169 e_acute)  # "é" in UTF-8
file (MAKE_DIRECTORY "${WORK_DIR}/Named.vst3")
file (WRITE "${WORK_DIR}/Named.vst3/caf${e_acute}.txt" "x")
expect_refused ("non-ASCII name" "${WORK_DIR}/Named.vst3" "names" "Named.vst3/caf")

file (MAKE_DIRECTORY "${WORK_DIR}/Slash.vst3")
file (WRITE "${WORK_DIR}/Slash.vst3/a\\b.txt" "x")
expect_refused ("backslash in a name" "${WORK_DIR}/Slash.vst3" "names" "Slash.vst3/a\\b.txt")

file (MAKE_DIRECTORY "${WORK_DIR}/Cased.vst3/Contents")
file (WRITE "${WORK_DIR}/Cased.vst3/Contents/Readme.txt" "x")
file (WRITE "${WORK_DIR}/Cased.vst3/Contents/README.txt" "y")
expect_refused ("names differing only in case" "${WORK_DIR}/Cased.vst3" "names differ in more than case" "Cased.vst3/Contents/README.txt")

file (MAKE_DIRECTORY "${WORK_DIR}/Hollow.vst3/Contents/x86_64-linux")
expect_refused ("a bundle without files" "${WORK_DIR}/Hollow.vst3" "bundle holds files" "Hollow.vst3")

message (STATUS "packer rules hold")
