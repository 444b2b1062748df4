# oh_add_windows_resources (<target> [MANIFEST <file>] [DESCRIPTION <text>])
#
# Gives the Windows executable its manifest (default: the window program's),
# version block (FileDescription: DESCRIPTION, default the manager's name), two
# icon groups and the message table of its event source.
# The icons are made at build time from the plume artwork (resources/linux/hicolor):
# 16, 32 and 48 pixels as 32-bit images, 256 pixels stored as PNG.
# Names and version come from OH_COMPANY_NAME, OH_MANAGER_NAME and
# OH_MANAGER_VERSION when the product description sets them.
if (NOT DEFINED OH_COMPANY_NAME)
    set (OH_COMPANY_NAME "Oakhaze, Inc.")
endif()
if (NOT DEFINED OH_MANAGER_NAME)
    set (OH_MANAGER_NAME "oh_installer")
endif()
if (NOT DEFINED OH_MANAGER_VERSION)
    set (OH_MANAGER_VERSION "${PROJECT_VERSION}")
endif()

find_program (OH_ICOTOOL icotool REQUIRED)
find_program (OH_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)

function (oh_add_windows_resources target)
    cmake_parse_arguments (ARG "" "MANIFEST;DESCRIPTION" "" ${ARGN})
    set (art "${PROJECT_SOURCE_DIR}/resources/linux/hicolor")
    set (png_name apps/oakhaze-plugin-manager.png)
    set (out_dir "${CMAKE_CURRENT_BINARY_DIR}/windows-resources")
    set (OH_ICON_FILE "${out_dir}/oh_installer.ico")
    set (OH_MANIFEST_FILE "${PROJECT_SOURCE_DIR}/resources/windows/oh_installer.manifest")
    if (ARG_MANIFEST)
        set (OH_MANIFEST_FILE "${ARG_MANIFEST}")
    endif()
    set (OH_FILE_DESCRIPTION "${OH_MANAGER_NAME}")
    if (ARG_DESCRIPTION)
        set (OH_FILE_DESCRIPTION "${ARG_DESCRIPTION}")
    endif()

    add_custom_command (
        OUTPUT "${OH_ICON_FILE}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${out_dir}"
        COMMAND "${OH_ICOTOOL}" --create --bit-depth=32 --output "${OH_ICON_FILE}"
                "${art}/16x16/${png_name}" "${art}/32x32/${png_name}" "${art}/48x48/${png_name}"
                "--raw=${art}/256x256/${png_name}"
        DEPENDS "${art}/16x16/${png_name}" "${art}/32x32/${png_name}"
                "${art}/48x48/${png_name}" "${art}/256x256/${png_name}"
        COMMENT "Making the application icon"
        VERBATIM)

    # The event log's texts for our own event source: a message table made by windmc.
    set (events_mc "${PROJECT_SOURCE_DIR}/resources/windows/oh_installer_events.mc")
    set (OH_EVENTS_FILE "${out_dir}/oh_installer_events_MSG00409.bin")
    add_custom_command (
        OUTPUT "${OH_EVENTS_FILE}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${out_dir}"
        COMMAND "${OH_WINDMC}" -b -h "${out_dir}" -r "${out_dir}" "${events_mc}"
        DEPENDS "${events_mc}"
        COMMENT "Making the event log's message table"
        VERBATIM)

    # 1.0.5 -> 1,0,5,0
    string (REPLACE "." ";" parts "${OH_MANAGER_VERSION}")
    list (APPEND parts 0 0 0 0)
    list (SUBLIST parts 0 4 parts)
    string (REPLACE ";" "," OH_FILE_VERSION_COMMAS "${parts}")

    configure_file ("${PROJECT_SOURCE_DIR}/resources/windows/oh_installer.rc.in" "${out_dir}/oh_installer.rc" @ONLY)
    set_source_files_properties ("${out_dir}/oh_installer.rc" PROPERTIES
        OBJECT_DEPENDS "${OH_ICON_FILE};${OH_MANIFEST_FILE};${OH_EVENTS_FILE}")
    target_sources (${target} PRIVATE "${out_dir}/oh_installer.rc" "${OH_ICON_FILE}" "${OH_EVENTS_FILE}")
endfunction()
