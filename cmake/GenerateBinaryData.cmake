# Script mode: writes BinaryData.h/.S/.cpp for the files in FILES ("|"-separated),
# with the assembler directives of OBJECT_FORMAT (ELF, or COFF for Windows).
# The bytes of the files also named in SEPARATE go to BinaryDataSeparate.S/.cpp
# instead, with getNamedResource, for a library of their own: a program that
# uses only the other resources then carries none of them. The header always
# declares the whole catalogue.
# Each output is rewritten only when its text changes, so the build tool's restat
# keeps untouched dependents from rebuilding.
cmake_policy (SET CMP0057 NEW)   # IN_LIST: script mode starts without it
string (REPLACE "|" ";" files "${FILES}")
string (REPLACE "|" ";" separate_files "${SEPARATE}")

include ("${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake")

set (header "// Generated at build time: the embedded resource catalogue.\n#pragma once\n\nnamespace BinaryData\n{\n")
set (asm "# Generated at build time: resource bytes pulled in by the assembler.\n")
set (source "// Generated at build time.\n#include \"BinaryData.h\"\n#include <cstring>\n\n")
set (separate_asm "# Generated at build time: the separate resources' bytes.\n")
set (separate_externs "")
set (separate_defs "")
set (names "")
set (originals "")
set (externs "")
set (defs "")
set (lookup "")
set (count 0)

foreach (file IN LISTS files)
    get_filename_component (original "${file}" NAME)
    string (REPLACE "." "_" name "${original}")
    string (REPLACE "-" "" name "${name}")
    file (SIZE "${file}" size)
    set (symbol "oh_binary_data_${name}")

    string (APPEND header "    extern const char* ${name};\n    const int ${name}Size = ${size};\n\n")
    if (OBJECT_FORMAT STREQUAL "COFF")
        # PE/COFF: read-only data section, no symbol type or size directives.
        set (bytes "\n    .section .rdata$${symbol},\"dr\"\n    .balign 16\n    .global ${symbol}\n${symbol}:\n    .incbin \"${file}\"\n    .byte 0\n")
    else()
        set (bytes "\n    .section .rodata.${symbol},\"a\",@progbits\n    .balign 16\n    .global ${symbol}\n    .type ${symbol}, @object\n${symbol}:\n    .incbin \"${file}\"\n    .size ${symbol}, . - ${symbol}\n    .byte 0\n")
    endif()
    if (file IN_LIST separate_files)
        string (APPEND separate_asm "${bytes}")
        string (APPEND separate_externs "extern \"C\" const char ${symbol}[];\n")
        string (APPEND separate_defs "    const char* ${name} = ${symbol};\n")
    else()
        string (APPEND asm "${bytes}")
        string (APPEND externs "extern \"C\" const char ${symbol}[];\n")
        string (APPEND defs "    const char* ${name} = ${symbol};\n")
    endif()
    string (APPEND names "        \"${name}\",\n")
    string (APPEND originals "        \"${original}\",\n")
    string (APPEND lookup "        if (std::strcmp (resourceNameUTF8, \"${name}\") == 0) { numBytes = ${name}Size; return ${name}; }\n")
    math (EXPR count "${count} + 1")
endforeach()

string (APPEND header "    // Number of elements in the namedResourceList and originalFileNames arrays.\n")
string (APPEND header "    const int namedResourceListSize = ${count};\n\n")
string (APPEND header "    // Resource names, in catalogue order.\n    extern const char* namedResourceList[];\n\n")
string (APPEND header "    // Source file names, parallel to namedResourceList.\n    extern const char* originalFilenames[];\n\n")
string (APPEND header "    // The resource of that name, or nullptr (numBytes is then 0).\n")
string (APPEND header "    const char* getNamedResource (const char* resourceNameUTF8, int& numBytes);\n\n")
string (APPEND header "    // The source file name of that resource, or nullptr.\n")
string (APPEND header "    const char* getNamedResourceOriginalFilename (const char* resourceNameUTF8);\n}\n")

if (NOT OBJECT_FORMAT STREQUAL "COFF")
    string (APPEND asm "\n    .section .note.GNU-stack,\"\",@progbits\n")
    string (APPEND separate_asm "\n    .section .note.GNU-stack,\"\",@progbits\n")
endif()

# The lookup by name reaches every resource, so it lives with the separate ones
# when there are any: only programs that carry them all can call it.
set (lookup_source "    const char* getNamedResource (const char* resourceNameUTF8, int& numBytes)\n    {\n${lookup}        numBytes = 0;\n        return nullptr;\n    }\n")

string (APPEND source "${externs}\nnamespace BinaryData\n{\n${defs}\n")
string (APPEND source "    const char* namedResourceList[] =\n    {\n${names}    };\n\n")
string (APPEND source "    const char* originalFilenames[] =\n    {\n${originals}    };\n\n")
if (separate_files)
    set (separate_source "// Generated at build time: the separate resources.\n#include \"BinaryData.h\"\n#include <cstring>\n\n")
    string (APPEND separate_source "${separate_externs}\nnamespace BinaryData\n{\n${separate_defs}\n${lookup_source}}\n")
else()
    string (APPEND source "${lookup_source}\n")
    set (separate_source "// Generated at build time: no separate resources.\n")
endif()
string (APPEND source "    const char* getNamedResourceOriginalFilename (const char* resourceNameUTF8)\n    {\n")
string (APPEND source "        for (int i = 0; i < namedResourceListSize; ++i)\n            if (std::strcmp (namedResourceList[i], resourceNameUTF8) == 0)\n                return originalFilenames[i];\n\n        return nullptr;\n    }\n}\n")

file (MAKE_DIRECTORY "${OUT_DIR}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.h" "${header}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.S" "${asm}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.cpp" "${source}")
oh_write_if_changed ("${OUT_DIR}/BinaryDataSeparate.S" "${separate_asm}")
oh_write_if_changed ("${OUT_DIR}/BinaryDataSeparate.cpp" "${separate_source}")
