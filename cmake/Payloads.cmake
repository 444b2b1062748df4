# Payload archives: one ZIP per plug-in format, packed at build time from the
# product's bundles and embedded by the resource catalogue (resources/).
#
# The bundles come from the product file's "bundleDir" (cmake/Product.cmake),
# or from OH_BUNDLE_DIR, which overrides it:
#
#     cmake -S . -B build -G Ninja -DOH_BUNDLE_DIR=/path/to/bundles
#
# The folder holds <name>.vst3 (a folder), <name>.clap (a file) and
# <name>.aaxplugin (a folder), <name> being the product's display name. With
# neither set, oh_payload_generate writes stand-in bundles under the product's
# name and version into the build tree (the demo product).
#
# Sets OH_PAYLOAD_FILES (aax.zip, clap.zip, vst3.zip, in catalogue order),
# OH_BUNDLE_ROOT and the target oh_payloads that builds them.
set (OH_BUNDLE_DIR "" CACHE PATH
    "Folder with your own bundles, overriding the product file's bundleDir; empty uses the product file")

if (CMAKE_CROSSCOMPILING)
    # The tools run here, during the build: built for this machine on their own.
    include (ExternalProject)
    set (oh_host_tools_dir "${CMAKE_BINARY_DIR}/host-tools")
    ExternalProject_Add (oh_host_tools
        SOURCE_DIR "${PROJECT_SOURCE_DIR}/tools/HostTools"
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
    add_subdirectory (tools/payload)
endif()

set (oh_payload_dir "${CMAKE_BINARY_DIR}/payloads")
set (oh_payload_formats aax clap vst3)
set (oh_bundle_aax "${OH_PRODUCT_DISPLAY_NAME}.aaxplugin")
set (oh_bundle_clap "${OH_PRODUCT_DISPLAY_NAME}.clap")
set (oh_bundle_vst3 "${OH_PRODUCT_DISPLAY_NAME}.vst3")
set (oh_form_aax folder)
set (oh_form_clap file)
set (oh_form_vst3 folder)

set (oh_bundle_source "${OH_BUNDLE_DIR}")
if (oh_bundle_source STREQUAL "")
    set (oh_bundle_source "${OH_PRODUCT_BUNDLE_DIR}")
endif()

if (oh_bundle_source)
    set (OH_DEMO_PRODUCT OFF)
    get_filename_component (oh_bundle_root "${oh_bundle_source}" ABSOLUTE)

    # The maker's own bundles: every file in them is an input of its archive;
    # the globs are re-checked at build time, so added files are noticed too.
    # What the installer needs of their form is checked here, what it needs of
    # their contents when they are packed.
    foreach (format IN LISTS oh_payload_formats)
        set (bundle "${oh_bundle_root}/${oh_bundle_${format}}")
        set (rule "rule \"bundle form\": the ${format} bundle is a ${oh_form_${format}} named ${oh_bundle_${format}} (product name + extension)")

        if (NOT EXISTS "${bundle}" AND NOT IS_SYMLINK "${bundle}")
            message (FATAL_ERROR "${rule}; ${bundle} does not exist")
        elseif (IS_SYMLINK "${bundle}")
            message (FATAL_ERROR "rule \"no links\": a bundle cannot be a symbolic link; ${bundle} is one")
        elseif (oh_form_${format} STREQUAL "folder" AND NOT IS_DIRECTORY "${bundle}")
            message (FATAL_ERROR "${rule}; ${bundle} is not a folder")
        elseif (oh_form_${format} STREQUAL "file" AND IS_DIRECTORY "${bundle}")
            message (FATAL_ERROR "${rule}; ${bundle} is a folder")
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
    set (oh_name "${OH_PRODUCT_DISPLAY_NAME}")

    set (oh_bundle_inputs_vst3
        "${oh_bundle_root}/${oh_name}.vst3/desktop.ini"
        "${oh_bundle_root}/${oh_name}.vst3/Plugin.ico"
        "${oh_bundle_root}/${oh_name}.vst3/Contents/Resources/moduleinfo.json"
        "${oh_bundle_root}/${oh_name}.vst3/Contents/x86_64-win/${oh_name}.vst3")
    set (oh_bundle_inputs_clap
        "${oh_bundle_root}/${oh_name}.clap")
    set (oh_bundle_inputs_aax
        "${oh_bundle_root}/${oh_name}.aaxplugin/desktop.ini"
        "${oh_bundle_root}/${oh_name}.aaxplugin/Plugin.ico"
        "${oh_bundle_root}/${oh_name}.aaxplugin/Contents/x64/${oh_name}.aaxplugin")

    # Files the generator leaves unchanged keep their time, so the packing
    # after a rebuilt generator only runs for bundles that really changed.
    # A changed product file reruns it through the stamp of its arguments.
    set (oh_generate_args --name "${oh_name}" --version "${OH_PRODUCT_VERSION}" --vendor "${OH_COMPANY_NAME}")
    if (OH_STAND_IN_MODULE_SIZE GREATER 0)
        list (APPEND oh_generate_args --module-size "${OH_STAND_IN_MODULE_SIZE}")
    endif()
    set (oh_generate_stamp "${CMAKE_BINARY_DIR}/payload-bundles.args")
    string (REPLACE ";" "\n" oh_generate_text "${oh_generate_args}")
    file (CONFIGURE OUTPUT "${oh_generate_stamp}" CONTENT "${oh_generate_text}\n")

    add_custom_command (
        OUTPUT ${oh_bundle_inputs_vst3} ${oh_bundle_inputs_clap} ${oh_bundle_inputs_aax}
        COMMAND oh_payload_generate ${oh_generate_args} "${oh_bundle_root}"
        DEPENDS oh_payload_generate "${oh_generate_stamp}"
        COMMENT "Generating the stand-in bundles of ${oh_name}"
        VERBATIM)
endif()
set (OH_BUNDLE_ROOT "${oh_bundle_root}")

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
                -P "${PROJECT_SOURCE_DIR}/tools/payload/CheckPacker.cmake")
    add_test (NAME payload_generator_command_line
        COMMAND "${CMAKE_COMMAND}" "-DGENERATE=$<TARGET_FILE:oh_payload_generate>"
                "-DWORK_DIR=${CMAKE_BINARY_DIR}/payload-generator-check"
                -P "${PROJECT_SOURCE_DIR}/tools/payload/CheckGenerator.cmake")
endif()

# An independent PE reader (Debian's pev) must find file version 1.0.0.0 in
# each generated module of the demo. A maker's modules carry their own versions.
if (OH_BUILD_TESTS AND OH_DEMO_PRODUCT AND NOT CMAKE_CROSSCOMPILING)
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
                        -P "${PROJECT_SOURCE_DIR}/tools/payload/CheckModuleVersion.cmake")
        endforeach()
    else()
        message (STATUS "pev (peres) not found: the payload module version tests are skipped")
    endif()
endif()
