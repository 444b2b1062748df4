# oh_add_binary_data (<target> FILES <file>... [DEPENDS <target>...]
#                     [SEPARATE <file>... SEPARATE_TARGET <target>])
#
# Builds a static library that provides the namespace BinaryData with the same
# API as juce_add_binary_data (data pointer, size constant, name lists), but the
# bytes are pulled in by the assembler's .incbin instead of being written out as
# C++ array literals, so the catalogue compiles in seconds whatever its size.
# A changed file re-assembles and relinks only the catalogue; the header changes
# (and dependents recompile) only when a size or the file list changes.
# The bytes of the SEPARATE files (and getNamedResource, which reaches them)
# go to a second static library, SEPARATE_TARGET: only the programs that link
# it carry them, while every program sees the whole catalogue's header.
set (OH_BINARY_DATA_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/GenerateBinaryData.cmake")

function (oh_add_binary_data target)
    cmake_parse_arguments (ARG "" "SEPARATE_TARGET" "FILES;DEPENDS;SEPARATE" ${ARGN})

    set (out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set (object_format ELF)
    if (WIN32)
        set (object_format COFF)
    endif()
    set (outputs "${out_dir}/BinaryData.h" "${out_dir}/BinaryData.S" "${out_dir}/BinaryData.cpp")
    set (separate_outputs "${out_dir}/BinaryDataSeparate.S" "${out_dir}/BinaryDataSeparate.cpp")
    string (REPLACE ";" "|" file_arg "${ARG_FILES}")
    string (REPLACE ";" "|" separate_arg "${ARG_SEPARATE}")

    add_custom_command (
        OUTPUT ${outputs} ${separate_outputs}
        COMMAND "${CMAKE_COMMAND}" "-DOUT_DIR=${out_dir}" "-DFILES=${file_arg}" "-DSEPARATE=${separate_arg}"
                "-DOBJECT_FORMAT=${object_format}" -P "${OH_BINARY_DATA_SCRIPT}"
        DEPENDS ${ARG_FILES} "${OH_BINARY_DATA_SCRIPT}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WriteIfChanged.cmake"
        COMMENT "Generating resource catalogue ${target}"
        VERBATIM)

    set (own_files ${ARG_FILES})
    if (ARG_SEPARATE)
        list (REMOVE_ITEM own_files ${ARG_SEPARATE})
        set_source_files_properties ("${out_dir}/BinaryDataSeparate.S" PROPERTIES OBJECT_DEPENDS "${ARG_SEPARATE}")
    endif()
    set_source_files_properties ("${out_dir}/BinaryData.S" PROPERTIES OBJECT_DEPENDS "${own_files}")

    add_library (${target} STATIC ${outputs})
    target_include_directories (${target} PUBLIC "${out_dir}")
    if (ARG_DEPENDS)
        add_dependencies (${target} ${ARG_DEPENDS})
    endif()

    if (ARG_SEPARATE_TARGET)
        add_library (${ARG_SEPARATE_TARGET} STATIC ${separate_outputs})
        target_link_libraries (${ARG_SEPARATE_TARGET} PUBLIC ${target})
    elseif (ARG_SEPARATE)
        message (FATAL_ERROR "oh_add_binary_data: SEPARATE needs SEPARATE_TARGET")
    else()
        # Without separate files it is only the lookup: part of the catalogue.
        target_sources (${target} PRIVATE ${separate_outputs})
    endif()
endfunction()
