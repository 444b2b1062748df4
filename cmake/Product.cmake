# The product this installer carries, read from one file: product.json at the
# top of the tree, or the file named by OH_PRODUCT_FILE. Relative paths in it
# are relative to the file's own folder. "platformSuffix" and "bundleDir" may
# differ per platform: {"linux": ..., "windows": ...}; a plain string serves
# both. See docs/making-your-installer.md.
#
# Sets, for the rest of the build (and the Windows resources):
#   OH_PRODUCT_NAME, OH_PRODUCT_DISPLAY_NAME (underscores turned into blanks),
#   OH_PRODUCT_VERSION, OH_PLATFORM_SUFFIX, OH_PRODUCT_PAGE_URL, OH_MANUAL_URL,
#   OH_DISCORD_URL, OH_SUPPORT_MAIL_URL, OH_EULA_FILE, OH_PRODUCT_BUNDLE_DIR,
#   OH_STAND_IN_MODULE_SIZE, OH_COMPANY_NAME, OH_MANAGER_NAME, OH_MANAGER_VERSION,
#   OH_DEMO_PRODUCT (the shipped demo: its own facts are tested too)
# and generates ${OH_PRODUCT_INCLUDE_DIR}/ProductInfo.h and ProductEula.cpp.
set (OH_PRODUCT_FILE "${PROJECT_SOURCE_DIR}/product.json" CACHE FILEPATH "The product file the installer is built for")

get_filename_component (oh_product_file "${OH_PRODUCT_FILE}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
get_filename_component (oh_product_root "${oh_product_file}" DIRECTORY)
if (NOT EXISTS "${oh_product_file}")
    message (FATAL_ERROR "Product file ${oh_product_file} does not exist")
endif()

file (READ "${oh_product_file}" oh_product_json)
set_property (DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${oh_product_file}")

function (oh_product_fail rule)
    message (FATAL_ERROR "${oh_product_file}: ${rule}")
endfunction()

# The platform this build is for, as a key of per-platform values.
if (CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set (oh_platform windows)
else()
    set (oh_platform linux)
endif()

# oh_product_read (<variable> <key> [OPTIONAL <default>] [PER_PLATFORM])
# PER_PLATFORM: the value may also be an object {"linux": ..., "windows": ...};
# a plain value then serves both platforms.
function (oh_product_read variable key)
    cmake_parse_arguments (ARG "PER_PLATFORM" "OPTIONAL" "" ${ARGN})
    string (JSON type ERROR_VARIABLE error TYPE "${oh_product_json}" "${key}")
    if (error)
        # An empty default leaves ARG_OPTIONAL undefined: ask for the word.
        if ("OPTIONAL" IN_LIST ARGN)
            set (${variable} "${ARG_OPTIONAL}" PARENT_SCOPE)
            return()
        endif()
        oh_product_fail ("\"${key}\" is missing")
    endif()
    set (path "${key}")
    if (ARG_PER_PLATFORM AND type STREQUAL "OBJECT")
        # Only the two platforms' keys: a misspelt one would silently not apply.
        string (JSON count LENGTH "${oh_product_json}" "${key}")
        math (EXPR last "${count} - 1")
        foreach (index RANGE ${last})
            string (JSON platform MEMBER "${oh_product_json}" "${key}" ${index})
            if (NOT platform MATCHES "^(linux|windows)$")
                oh_product_fail ("rule \"${key}\": a string, or an object with \"linux\" and \"windows\" (got key \"${platform}\")")
            endif()
        endforeach()
        string (JSON type ERROR_VARIABLE error TYPE "${oh_product_json}" "${key}" "${oh_platform}")
        if (error)
            oh_product_fail ("rule \"${key}\": no \"${oh_platform}\" value for this ${oh_platform} build")
        endif()
        set (path "${key}" "${oh_platform}")
        set (key "${key}.${oh_platform}")
    endif()
    if (NOT type STREQUAL "STRING" AND NOT type STREQUAL "NUMBER")
        oh_product_fail ("\"${key}\" must be a string")
    endif()
    string (JSON value GET "${oh_product_json}" ${path})
    set (${variable} "${value}" PARENT_SCOPE)
endfunction()

string (JSON oh_product_type ERROR_VARIABLE oh_product_error TYPE "${oh_product_json}")
if (oh_product_error OR NOT oh_product_type STREQUAL "OBJECT")
    oh_product_fail ("not a JSON object: ${oh_product_error}")
endif()

oh_product_read (OH_PRODUCT_NAME name)
oh_product_read (OH_PRODUCT_VERSION version)
oh_product_read (OH_PLATFORM_SUFFIX platformSuffix PER_PLATFORM)
oh_product_read (OH_PRODUCT_PAGE_URL productPageUrl)
oh_product_read (OH_MANUAL_URL manualUrl)
oh_product_read (OH_DISCORD_URL discordUrl)
oh_product_read (OH_SUPPORT_MAIL_URL supportMailUrl)
oh_product_read (oh_eula eulaFile)
oh_product_read (oh_bundles bundleDir OPTIONAL "" PER_PLATFORM)
oh_product_read (OH_COMPANY_NAME companyName)
oh_product_read (OH_STAND_IN_MODULE_SIZE standInModuleSize OPTIONAL 0)

set (OH_MANAGER_NAME "oh_installer")
set (OH_MANAGER_VERSION "${PROJECT_VERSION}")

# What the installer needs of the values: bundle names it can write on every
# platform, and links the system's handlers open.
if (NOT OH_PRODUCT_NAME MATCHES "^[ -~]+$" OR OH_PRODUCT_NAME MATCHES "[\\/:*?\"<>|]"
    OR OH_PRODUCT_NAME MATCHES "^[ .]" OR OH_PRODUCT_NAME MATCHES "[ .]$")
    oh_product_fail ("rule \"name\": printable ASCII without \\ / : * ? \" < > |, not starting or ending with a blank or a dot, because it names the bundles on disk (got \"${OH_PRODUCT_NAME}\")")
endif()
string (REPLACE "_" " " OH_PRODUCT_DISPLAY_NAME "${OH_PRODUCT_NAME}")

foreach (pair IN ITEMS "version=OH_PRODUCT_VERSION" "platformSuffix=OH_PLATFORM_SUFFIX" "companyName=OH_COMPANY_NAME")
    string (REGEX MATCH "^[^=]+" key "${pair}")
    string (REGEX REPLACE "^[^=]+=" "" variable "${pair}")
    if (NOT "${${variable}}" MATCHES "^[ -~]*$")
        oh_product_fail ("rule \"${key}\": printable ASCII only (got \"${${variable}}\")")
    endif()
endforeach()
if (OH_PRODUCT_VERSION STREQUAL "" OR OH_COMPANY_NAME STREQUAL "")
    oh_product_fail ("rule \"version\" and \"companyName\": must not be empty")
endif()

# A link reaches its handler as one argument, but a handler may hand it to a
# shell: none of $ ` " \ or blanks, which a shell or a quoted word reads.
set (oh_link_shell_chars "[$`\"\\\\]")
foreach (key IN ITEMS productPageUrl manualUrl discordUrl)
    string (JSON value GET "${oh_product_json}" "${key}")
    if (NOT value MATCHES "^https?://[!-~]+$" OR value MATCHES "${oh_link_shell_chars}")
        oh_product_fail ("rule \"${key}\": an http:// or https:// link without blanks, $, `, \" or \\ (got \"${value}\")")
    endif()
endforeach()
if (NOT OH_SUPPORT_MAIL_URL MATCHES "^mailto:[!-~]+@[!-~]+$" OR OH_SUPPORT_MAIL_URL MATCHES "${oh_link_shell_chars}")
    oh_product_fail ("rule \"supportMailUrl\": a mailto: link without blanks, $, `, \" or \\ (got \"${OH_SUPPORT_MAIL_URL}\")")
endif()
if (NOT OH_STAND_IN_MODULE_SIZE MATCHES "^[0-9]+$")
    oh_product_fail ("rule \"standInModuleSize\": a whole number of bytes (got \"${OH_STAND_IN_MODULE_SIZE}\")")
endif()

get_filename_component (OH_EULA_FILE "${oh_eula}" ABSOLUTE BASE_DIR "${oh_product_root}")
if (NOT EXISTS "${OH_EULA_FILE}" OR IS_DIRECTORY "${OH_EULA_FILE}")
    oh_product_fail ("rule \"eulaFile\": ${OH_EULA_FILE} is not a file")
endif()
set_property (DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${OH_EULA_FILE}")

set (OH_PRODUCT_BUNDLE_DIR "")
if (NOT oh_bundles STREQUAL "")
    get_filename_component (OH_PRODUCT_BUNDLE_DIR "${oh_bundles}" ABSOLUTE BASE_DIR "${oh_product_root}")
endif()

# The shipped demo: its licence text and generated bundles have facts of their
# own that the tests check; every other product is held to the general rules.
file (SHA256 "${OH_EULA_FILE}" oh_eula_hash)
file (SHA256 "${PROJECT_SOURCE_DIR}/product/EULA.txt" oh_demo_eula_hash)
if (WIN32)
    set (oh_demo_suffix " for Windows")
else()
    set (oh_demo_suffix " for Linux")
endif()
if (OH_PRODUCT_NAME STREQUAL "Velquin" AND OH_PRODUCT_VERSION STREQUAL "1.0.0"
    AND OH_PLATFORM_SUFFIX STREQUAL oh_demo_suffix AND oh_eula_hash STREQUAL oh_demo_eula_hash
    AND OH_PRODUCT_BUNDLE_DIR STREQUAL "" AND OH_STAND_IN_MODULE_SIZE EQUAL 0)
    set (OH_DEMO_PRODUCT ON)
else()
    set (OH_DEMO_PRODUCT OFF)
endif()

#===============================================================================
# The package's identity: sets OH_PACKAGE_NAME and OH_APP_ID. Every installed
# file's name follows from them, so two products' packages share no file; the
# package version is the product's version, so the next one upgrades it.
oh_product_read (OH_PACKAGE_NAME packageName)
oh_product_read (OH_APP_ID appId)

# Debian's rule for package names: lower-case letters, digits, + - ., at least
# two characters, starting with a letter or digit.
if (NOT OH_PACKAGE_NAME MATCHES "^[a-z0-9][a-z0-9+.-]+$")
    oh_product_fail ("rule \"packageName\": a Debian package name: lower-case letters, digits, + - and ., at least two, starting with a letter or digit (got \"${OH_PACKAGE_NAME}\")")
endif()

# Reverse-DNS, as D-Bus names, desktop ids, AppStream and polkit all read it:
# at least three parts of letters, digits and _, none starting with a digit;
# no - (D-Bus activation and Flatpak refuse it).
string (LENGTH "${OH_APP_ID}" oh_app_id_length)
if (NOT OH_APP_ID MATCHES "^[A-Za-z_][A-Za-z0-9_]*(\\.[A-Za-z_][A-Za-z0-9_]*)(\\.[A-Za-z_][A-Za-z0-9_]*)+$"
    OR oh_app_id_length GREATER 255)
    oh_product_fail ("rule \"appId\": a reverse-DNS id such as com.example.SynthInstaller: three or more parts of letters, digits and _, none starting with a digit, at most 255 characters (got \"${OH_APP_ID}\")")
endif()

# The version is the package's too: Debian's upstream version (a digit first,
# then letters, digits and . + ~, a - only before a non-empty revision). No
# epoch: the version is also shown in the window's header.
if (NOT OH_PRODUCT_VERSION MATCHES "^[0-9][A-Za-z0-9.+~-]*$" OR OH_PRODUCT_VERSION MATCHES "-$")
    oh_product_fail ("rule \"version\": a Debian version, because it versions the package: a digit first, then letters, digits and . + ~ - , not ending in - (got \"${OH_PRODUCT_VERSION}\")")
endif()

#===============================================================================
# The generated catalogue: the values as C++ constants, the licence as text.
function (oh_cpp_literal variable text)
    string (REPLACE "\\" "\\\\" text "${text}")
    string (REPLACE "\"" "\\\"" text "${text}")
    string (REPLACE "\t" "\\t" text "${text}")
    set (${variable} "\"${text}\"" PARENT_SCOPE)
endfunction()

set (OH_PRODUCT_INCLUDE_DIR "${CMAKE_BINARY_DIR}/product")

include ("${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake")

set (oh_header "// Generated from ${oh_product_file}: the product this installer carries.\n#pragma once\n\nnamespace ProductInfo\n{\n")
foreach (pair IN ITEMS "rawName=OH_PRODUCT_NAME" "version=OH_PRODUCT_VERSION" "platformSuffix=OH_PLATFORM_SUFFIX"
                       "pageUrl=OH_PRODUCT_PAGE_URL" "manualUrl=OH_MANUAL_URL" "discordUrl=OH_DISCORD_URL"
                       "supportMailUrl=OH_SUPPORT_MAIL_URL" "companyName=OH_COMPANY_NAME")
    string (REGEX MATCH "^[^=]+" member "${pair}")
    string (REGEX REPLACE "^[^=]+=" "" variable "${pair}")
    oh_cpp_literal (literal "${${variable}}")
    string (APPEND oh_header "    inline constexpr const char* ${member} = ${literal};\n")
endforeach()
string (APPEND oh_header "}\n")
oh_write_if_changed ("${OH_PRODUCT_INCLUDE_DIR}/ProductInfo.h" "${oh_header}")

# The licence: UTF-8 text; Windows line ends become line feeds, and the one
# line feed an editor leaves at the end of the file is not part of it.
file (READ "${OH_EULA_FILE}" oh_eula_text)
string (REPLACE "\r\n" "\n" oh_eula_text "${oh_eula_text}")
string (REGEX REPLACE "\n$" "" oh_eula_text "${oh_eula_text}")
if (oh_eula_text STREQUAL "")
    oh_product_fail ("rule \"eulaFile\": ${OH_EULA_FILE} is empty; the licence panel needs a text")
endif()
if (oh_eula_text MATCHES "\r")
    oh_product_fail ("rule \"eulaFile\": ${OH_EULA_FILE} holds a carriage return outside a line end")
endif()
oh_cpp_literal (oh_eula_literal "${oh_eula_text}")
string (REPLACE "\n" "\\n\"\n    \"" oh_eula_literal "${oh_eula_literal}")
oh_write_if_changed ("${OH_PRODUCT_INCLUDE_DIR}/ProductEula.cpp"
    "// Generated from ${OH_EULA_FILE}.\n#include \"Catalogue.h\"\n\nconst juce::String eulaText { juce::CharPointer_UTF8 (\n    ${oh_eula_literal}) };\n")

message (STATUS "Product: ${OH_PRODUCT_DISPLAY_NAME} ${OH_PRODUCT_VERSION} (${oh_product_file})")
