# Reads product files the way the build does, for either platform, and checks
# the values each platform gets and the refusals with their rule.
#
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<folder> -P CheckProductFile.cmake
#
# Probe mode (-DPROBE=ON, run by the check itself): includes cmake/Product.cmake
# for CMAKE_SYSTEM_NAME and prints the values it set.
cmake_minimum_required (VERSION 3.22)
if (PROBE)
    set (PROJECT_SOURCE_DIR "${SOURCE_DIR}")
    set (CMAKE_BINARY_DIR "${OUT_DIR}")   # script mode sets it to the working folder
    set (PROJECT_VERSION 0.0.0)
    include ("${SOURCE_DIR}/cmake/Product.cmake")
    message ("suffix=[${OH_PLATFORM_SUFFIX}] bundles=[${OH_PRODUCT_BUNDLE_DIR}]")
    return()
endif()

file (REMOVE_RECURSE "${WORK_DIR}")
file (MAKE_DIRECTORY "${WORK_DIR}")
file (WRITE "${WORK_DIR}/EULA.txt" "Terms.\n")

set (base [["name": "Probe", "version": "1.2.3", "productPageUrl": "https://p.example.com",
    "manualUrl": "https://p.example.com/m.pdf", "discordUrl": "https://discord.gg/p",
    "supportMailUrl": "mailto:help@p.example.com", "eulaFile": "EULA.txt", "companyName": "P Ltd.", "packageName": "probe-installer", "appId": "com.example.probe.Installer"]])

# case name | platformSuffix and bundleDir members | linux result | windows result
# A result is "suffix|bundle folder below WORK_DIR" or "!" and the words the refusal must hold.
set (cases
    "plain string serves both"
    [["platformSuffix": " for All", "bundleDir": "bundles"]]
    " for All|bundles" " for All|bundles"

    "each platform its own"
    [["platformSuffix": {"linux": " for Linux", "windows": " for Windows"}, "bundleDir": {"windows": "win", "linux": "lin"}]]
    " for Linux|lin" " for Windows|win"

    "per-platform suffix, one bundle folder, no bundleDir at all"
    [["platformSuffix": {"linux": "", "windows": " (x64)"}]]
    "|" " (x64)|"

    "a platform left out is refused for that platform only"
    [["platformSuffix": " for All", "bundleDir": {"linux": "lin"}]]
    " for All|lin" "!rule \"bundleDir\": no \"windows\" value"

    "a misspelt platform is refused"
    [["platformSuffix": {"linux": "", "win": ""}]]
    "!rule \"platformSuffix\": a string, or an object with \"linux\" and \"windows\" (got key \"win\")"
    "!rule \"platformSuffix\": a string, or an object with \"linux\" and \"windows\" (got key \"win\")"

    "a platform's value must be a string"
    [["platformSuffix": {"linux": "", "windows": ["x"]}]]
    "|" "!\"platformSuffix.windows\" must be a string"

    "a platform's value keeps the rules of the key"
    [["platformSuffix": {"linux": " für Linux", "windows": ""}]]
    "!rule \"platformSuffix\": printable ASCII only" "|")

set (failures 0)
list (LENGTH cases count)
math (EXPR last "${count} - 1")
foreach (i RANGE 0 ${last} 4)
    math (EXPR i_members "${i} + 1")
    math (EXPR i_linux "${i} + 2")
    math (EXPR i_windows "${i} + 3")
    list (GET cases ${i} name)
    list (GET cases ${i_members} members)
    list (GET cases ${i_linux} expected_linux)
    list (GET cases ${i_windows} expected_windows)

    set (product "${WORK_DIR}/product.json")
    file (WRITE "${product}" "{ ${base}, ${members} }\n")
    foreach (system IN ITEMS Linux Windows)
        string (TOLOWER "${system}" platform)
        set (expected "${expected_${platform}}")
        execute_process (
            COMMAND "${CMAKE_COMMAND}" -DPROBE=ON "-DSOURCE_DIR=${SOURCE_DIR}" "-DOUT_DIR=${WORK_DIR}/out"
                    "-DCMAKE_SYSTEM_NAME=${system}" "-DOH_PRODUCT_FILE=${product}" -P "${CMAKE_CURRENT_LIST_FILE}"
            WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
        string (REPLACE "\n" " " out "${out}")
        string (REGEX REPLACE " +" " " out "${out}")
        if (expected MATCHES "^!(.*)")
            string (FIND "${out}" "${CMAKE_MATCH_1}" at)
            if (result EQUAL 0 OR at EQUAL -1)
                message (SEND_ERROR "${name} (${platform}): expected the refusal '${CMAKE_MATCH_1}', got ${result}: ${out}")
                math (EXPR failures "${failures} + 1")
            endif()
        else()
            string (REGEX MATCH "^([^|]*)\\|(.*)$" unused "${expected}")
            set (want_bundles "")
            if (NOT CMAKE_MATCH_2 STREQUAL "")
                set (want_bundles "${WORK_DIR}/${CMAKE_MATCH_2}")
            endif()
            string (FIND "${out}" "suffix=[${CMAKE_MATCH_1}] bundles=[${want_bundles}]" at)
            if (NOT result EQUAL 0 OR at EQUAL -1)
                message (SEND_ERROR "${name} (${platform}): expected suffix=[${CMAKE_MATCH_1}] bundles=[${want_bundles}], got ${result}: ${out}")
                math (EXPR failures "${failures} + 1")
            endif()
        endif()
    endforeach()
endforeach()
math (EXPR runs "${count} / 2")
message ("product file cases: ${runs} runs, ${failures} failed")
