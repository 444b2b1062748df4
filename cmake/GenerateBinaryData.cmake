# Script mode: writes BinaryData.h/.S/.cpp for the files in FILES ("|"-separated),
# with the assembler directives of OBJECT_FORMAT (ELF, or COFF for Windows).
# Each output is rewritten only when its text changes, so the build tool's restat
# keeps untouched dependents from rebuilding.
string (REPLACE "|" ";" files "${FILES}")

include ("${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake")

set (header "// Generated at build time: the embedded resource catalogue.\n#pragma once\n\nnamespace BinaryData\n{\n")
set (asm "# Generated at build time: resource bytes pulled in by the assembler.\n")
set (source "// Generated at build time.\n#include \"BinaryData.h\"\n#include <cstring>\n\n")
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
        string (APPEND asm "\n    .section .rdata$${symbol},\"dr\"\n    .balign 16\n    .global ${symbol}\n${symbol}:\n    .incbin \"${file}\"\n    .byte 0\n")
    else()
        string (APPEND asm "\n    .section .rodata.${symbol},\"a\",@progbits\n    .balign 16\n    .global ${symbol}\n    .type ${symbol}, @object\n${symbol}:\n    .incbin \"${file}\"\n    .size ${symbol}, . - ${symbol}\n    .byte 0\n")
    endif()
    string (APPEND externs "extern \"C\" const char ${symbol}[];\n")
    string (APPEND defs "    const char* ${name} = ${symbol};\n")
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
endif()

string (APPEND source "${externs}\nnamespace BinaryData\n{\n${defs}\n")
string (APPEND source "    const char* namedResourceList[] =\n    {\n${names}    };\n\n")
string (APPEND source "    const char* originalFilenames[] =\n    {\n${originals}    };\n\n")
string (APPEND source "    const char* getNamedResource (const char* resourceNameUTF8, int& numBytes)\n    {\n${lookup}        numBytes = 0;\n        return nullptr;\n    }\n\n")
string (APPEND source "    const char* getNamedResourceOriginalFilename (const char* resourceNameUTF8)\n    {\n")
string (APPEND source "        for (int i = 0; i < namedResourceListSize; ++i)\n            if (std::strcmp (namedResourceList[i], resourceNameUTF8) == 0)\n                return originalFilenames[i];\n\n        return nullptr;\n    }\n}\n")

file (MAKE_DIRECTORY "${OUT_DIR}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.h" "${header}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.S" "${asm}")
oh_write_if_changed ("${OUT_DIR}/BinaryData.cpp" "${source}")
