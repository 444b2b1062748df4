# oh_add_binary_data (<target> FILES <file>... [DEPENDS <target>...])
#
# Builds a static library that provides the namespace BinaryData with the same
# API as juce_add_binary_data (data pointer, size constant, name lists), but the
# bytes are pulled in by the assembler's .incbin instead of being written out as
# C++ array literals, so the catalogue compiles in seconds whatever its size.
# A changed file re-assembles and relinks only the catalogue; the header changes
# (and dependents recompile) only when a size or the file list changes.
set (OH_BINARY_DATA_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/GenerateBinaryData.cmake")

function (oh_add_binary_data target)
    cmake_parse_arguments (ARG "" "" "FILES;DEPENDS" ${ARGN})

    set (out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set (object_format ELF)
    if (WIN32)
        set (object_format COFF)
    endif()
    set (outputs "${out_dir}/BinaryData.h" "${out_dir}/BinaryData.S" "${out_dir}/BinaryData.cpp")
    string (REPLACE ";" "|" file_arg "${ARG_FILES}")

    add_custom_command (
        OUTPUT ${outputs}
        COMMAND "${CMAKE_COMMAND}" "-DOUT_DIR=${out_dir}" "-DFILES=${file_arg}" "-DOBJECT_FORMAT=${object_format}"
                -P "${OH_BINARY_DATA_SCRIPT}"
        DEPENDS ${ARG_FILES} "${OH_BINARY_DATA_SCRIPT}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WriteIfChanged.cmake"
        COMMENT "Generating resource catalogue ${target}"
        VERBATIM)

    set_source_files_properties ("${out_dir}/BinaryData.S" PROPERTIES OBJECT_DEPENDS "${ARG_FILES}")

    add_library (${target} STATIC ${outputs})
    target_include_directories (${target} PUBLIC "${out_dir}")
    if (ARG_DEPENDS)
        add_dependencies (${target} ${ARG_DEPENDS})
    endif()
endfunction()
