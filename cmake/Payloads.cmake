# Payload archives: one ZIP per plug-in format, packed at build time from the
# product's bundles and embedded by the resource catalogue (resources/).
#
# By default the bundles are a demo product that oh_payload_generate writes
# into the build tree. To ship your own product, point OH_BUNDLE_DIR at a
# folder holding Velquin.vst3, Velquin.clap and Velquin.aaxplugin:
#
#     cmake -S . -B build -G Ninja -DOH_BUNDLE_DIR=/path/to/bundles
#
# Sets OH_PAYLOAD_FILES (aax.zip, clap.zip, vst3.zip, in catalogue order) and
# the target oh_payloads that builds them.
set (OH_BUNDLE_DIR "" CACHE PATH
    "Folder with your own Velquin.vst3, Velquin.clap and Velquin.aaxplugin; empty packs the demo product")

if (CMAKE_CROSSCOMPILING)
    # The tools run here, during the build: built for this machine on their own.
    include (ExternalProject)
    set (oh_host_tools_dir "${CMAKE_BINARY_DIR}/host-tools")
    ExternalProject_Add (oh_host_tools
        SOURCE_DIR "${PROJECT_SOURCE_DIR}/cmake/HostTools"
        BINARY_DIR "${oh_host_tools_dir}"
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS "${oh_host_tools_dir}/payload/oh_payload_generate"
                         "${oh_host_tools_dir}/payload/oh_payload_pack")

    foreach (tool oh_payload_generate oh_payload_pack)
        add_executable (${tool} IMPORTED GLOBAL)
        set_target_properties (${tool} PROPERTIES IMPORTED_LOCATION "${oh_host_tools_dir}/payload/${tool}")
        add_dependencies (${tool} oh_host_tools)
    endforeach()
else()
    add_subdirectory (scripts/payload)
endif()

set (oh_payload_dir "${CMAKE_BINARY_DIR}/payloads")
set (oh_payload_formats aax clap vst3)
set (oh_bundle_aax Velquin.aaxplugin)
set (oh_bundle_clap Velquin.clap)
set (oh_bundle_vst3 Velquin.vst3)

if (OH_BUNDLE_DIR)
    # The maker's own bundles: every file in them is an input of its archive;
    # the globs are re-checked at build time, so added files are noticed too.
    set (oh_bundle_root "${OH_BUNDLE_DIR}")

    foreach (format IN LISTS oh_payload_formats)
        set (bundle "${oh_bundle_root}/${oh_bundle_${format}}")
        if (NOT EXISTS "${bundle}")
            message (FATAL_ERROR "OH_BUNDLE_DIR: ${bundle} does not exist")
        endif()

        if (IS_DIRECTORY "${bundle}")
            file (GLOB_RECURSE inputs CONFIGURE_DEPENDS LIST_DIRECTORIES true "${bundle}/*")
            set (oh_bundle_inputs_${format} "${bundle}" ${inputs})
        else()
            set (oh_bundle_inputs_${format} "${bundle}")
        endif()
    endforeach()
else()
    set (oh_bundle_root "${CMAKE_BINARY_DIR}/payload-bundles")

    set (oh_bundle_inputs_vst3
        "${oh_bundle_root}/Velquin.vst3/desktop.ini"
        "${oh_bundle_root}/Velquin.vst3/Plugin.ico"
        "${oh_bundle_root}/Velquin.vst3/Contents/Resources/moduleinfo.json"
        "${oh_bundle_root}/Velquin.vst3/Contents/x86_64-win/Velquin.vst3")
    set (oh_bundle_inputs_clap
        "${oh_bundle_root}/Velquin.clap")
    set (oh_bundle_inputs_aax
        "${oh_bundle_root}/Velquin.aaxplugin/desktop.ini"
        "${oh_bundle_root}/Velquin.aaxplugin/Plugin.ico"
        "${oh_bundle_root}/Velquin.aaxplugin/Contents/x64/Velquin.aaxplugin")

    # Files the generator leaves unchanged keep their time, so the packing
    # after a rebuilt generator only runs for bundles that really changed.
    add_custom_command (
        OUTPUT ${oh_bundle_inputs_vst3} ${oh_bundle_inputs_clap} ${oh_bundle_inputs_aax}
        COMMAND oh_payload_generate "${oh_bundle_root}"
        DEPENDS oh_payload_generate
        COMMENT "Generating the demo product's bundles"
        VERBATIM)
endif()

set (OH_PAYLOAD_FILES)
foreach (format IN LISTS oh_payload_formats)
    set (archive "${oh_payload_dir}/${format}.zip")
    add_custom_command (
        OUTPUT "${archive}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${oh_payload_dir}"
        COMMAND oh_payload_pack "${archive}" "${oh_bundle_root}/${oh_bundle_${format}}"
        DEPENDS oh_payload_pack ${oh_bundle_inputs_${format}}
        COMMENT "Packing ${format}.zip"
        VERBATIM)
    list (APPEND OH_PAYLOAD_FILES "${archive}")
endforeach()

add_custom_target (oh_payloads DEPENDS ${OH_PAYLOAD_FILES})

if (OH_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
    add_test (NAME payload_packer_rules
        COMMAND "${CMAKE_COMMAND}" "-DPACK=$<TARGET_FILE:oh_payload_pack>"
                "-DWORK_DIR=${CMAKE_BINARY_DIR}/payload-packer-check"
                -P "${PROJECT_SOURCE_DIR}/scripts/payload/CheckPacker.cmake")
endif()

# An independent PE reader (Debian's pev) must find file version 1.0.0.0 in
# each generated module. The maker's own modules carry their own versions.
if (OH_BUILD_TESTS AND NOT OH_BUNDLE_DIR AND NOT CMAKE_CROSSCOMPILING)
    find_program (OH_PERES peres)
    if (OH_PERES)
        set (oh_payload_modules
            "vst3=${oh_bundle_root}/Velquin.vst3/Contents/x86_64-win/Velquin.vst3"
            "clap=${oh_bundle_root}/Velquin.clap"
            "aax=${oh_bundle_root}/Velquin.aaxplugin/Contents/x64/Velquin.aaxplugin")

        foreach (item IN LISTS oh_payload_modules)
            string (REGEX MATCH "^[^=]+" format "${item}")
            string (REGEX REPLACE "^[^=]+=" "" module "${item}")
            add_test (NAME payload_module_version_${format}
                COMMAND "${CMAKE_COMMAND}" "-DPERES=${OH_PERES}" "-DMODULE=${module}"
                        "-DWORK_DIR=${CMAKE_BINARY_DIR}/payload-version-check/${format}" "-DEXPECTED=1.0.0.0"
                        -P "${PROJECT_SOURCE_DIR}/scripts/payload/CheckModuleVersion.cmake")
        endforeach()
    else()
        message (STATUS "pev (peres) not found: the payload module version tests are skipped")
    endif()
endif()
