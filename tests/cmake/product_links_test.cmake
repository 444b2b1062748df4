# Every link of the product file reaches a link handler, and on the way it may
# meet a shell: a link the build accepts holds none of the characters a shell
# or a quoted argument gives a meaning to. cmake -DSOURCE_DIR=... -DWORK_DIR=...
# -P product_links_test.cmake
file (READ "${SOURCE_DIR}/product.json" product)
string (JSON product SET "${product}" eulaFile "\"${SOURCE_DIR}/product/EULA.txt\"")
file (MAKE_DIRECTORY "${WORK_DIR}")

# key | link | accepted
set (cases
    "productPageUrl|https://www.example.com/a?b=1&c='d'#e|1"
    "productPageUrl|https://www.example.com/$(id)|0"
    "manualUrl|https://www.example.com/`id`|0"
    "discordUrl|https://www.example.com/\"x|0"
    "productPageUrl|https://www.example.com/a\\\\b|0"
    "manualUrl|https://www.example.com/a b|0"
    "discordUrl|https://www.example.com/a\tb|0"
    "supportMailUrl|mailto:support@example.com|1"
    "supportMailUrl|mailto:$USER@example.com|0"
    "supportMailUrl|mailto:a`id`@example.com|0")

set (failures "")
set (index 0)
foreach (case IN LISTS cases)
    string (REPLACE "|" ";" fields "${case}")
    list (GET fields 0 key)
    list (GET fields 1 link)
    list (GET fields 2 accepted)

    # The link as a JSON string: quote and backslash escaped.
    string (REPLACE "\\" "\\\\" json_link "${link}")
    string (REPLACE "\"" "\\\"" json_link "${json_link}")
    string (REPLACE "\t" "\\t" json_link "${json_link}")
    string (JSON text SET "${product}" "${key}" "\"${json_link}\"")

    math (EXPR index "${index} + 1")
    set (file "${WORK_DIR}/product_${index}.json")
    file (WRITE "${file}" "${text}")
    execute_process (
        COMMAND "${CMAKE_COMMAND}" -DPRODUCT_FILE=${file} -DSOURCE_DIR=${SOURCE_DIR} -DBINARY_DIR=${WORK_DIR}/build_${index}
                -P "${CMAKE_CURRENT_LIST_DIR}/product_file_case.cmake"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)

    if (accepted AND NOT result EQUAL 0)
        string (APPEND failures "\n  ${key} \"${link}\" refused:\n${output}")
    # cmake wraps a long message (a long build path) anywhere between words.
    elseif (NOT accepted AND (result EQUAL 0 OR NOT output MATCHES "rule[ \n]+\"${key}\""))
        string (APPEND failures "\n  ${key} \"${link}\" not refused by its rule:\n${output}")
    endif()
endforeach()

if (failures)
    message (FATAL_ERROR "Product links:${failures}")
endif()
message (STATUS "Product links: ${index} cases as expected")
