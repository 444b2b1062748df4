# oh_generate_linux_files (<out_dir>)
#
# Writes the package's desktop integration from resources/linux/*.in into
# out_dir, named after the product's identity (OH_PACKAGE_NAME, OH_APP_ID):
#
#   <app id>.desktop     desktop entry (the window program, /usr/bin/<package>)
#   <app id>.metainfo.xml
#   <app id>.policy      polkit action <app id>.deploy: the deploy program as root
#   <package>.1          manual page; changelog; copyright
#   <package>-deploy.8   the deploy program's manual page
#
# Every product value is escaped for the text it lands in (XML, desktop entry,
# roff): "Salt & Pepper" must stay one name, not break the file.
# The dates come from SOURCE_DATE_EPOCH when it is set.

# Where the package puts the deploy program, which the window runs through
# pkexec and the polkit action names.
set (OH_INSTALLED_DEPLOY_PROGRAM "/usr/sbin/${OH_PACKAGE_NAME}-deploy")

# XML character data and attribute values.
function (oh_xml_escape variable text)
    string (REPLACE "&" "&amp;" text "${text}")
    string (REPLACE "<" "&lt;" text "${text}")
    string (REPLACE ">" "&gt;" text "${text}")
    string (REPLACE "\"" "&quot;" text "${text}")
    string (REPLACE "'" "&apos;" text "${text}")
    set (${variable} "${text}" PARENT_SCOPE)
endfunction()

# A desktop entry's string value; LIST also escapes the separator of a list value.
function (oh_desktop_escape variable text)
    cmake_parse_arguments (ARG "LIST" "" "" ${ARGN})
    string (REPLACE "\\" "\\\\" text "${text}")
    string (REPLACE "\t" "\\t" text "${text}")
    string (REPLACE "\n" "\\n" text "${text}")
    string (REPLACE "\r" "\\r" text "${text}")
    if (ARG_LIST)
        string (REPLACE ";" "\\;" text "${text}")
    endif()
    string (REGEX REPLACE "^ " "\\\\s" text "${text}")
    set (${variable} "${text}" PARENT_SCOPE)
endfunction()

# Text inside a roff line (never taken as a request, a backslash printed as one).
function (oh_roff_escape variable text)
    string (REPLACE "\\" "\\e" text "${text}")
    set (${variable} "\\&${text}" PARENT_SCOPE)
endfunction()

function (oh_generate_linux_files out_dir)
    set (templates "${PROJECT_SOURCE_DIR}/resources/linux")

    oh_xml_escape (OH_XML_PRODUCT "${OH_PRODUCT_DISPLAY_NAME}")
    oh_xml_escape (OH_XML_COMPANY "${OH_COMPANY_NAME}")
    oh_xml_escape (OH_XML_VERSION "${OH_PRODUCT_VERSION}")
    oh_xml_escape (OH_XML_PAGE_URL "${OH_PRODUCT_PAGE_URL}")
    oh_desktop_escape (OH_DESKTOP_PRODUCT "${OH_PRODUCT_DISPLAY_NAME}")
    oh_desktop_escape (OH_DESKTOP_PRODUCT_KEYWORD "${OH_PRODUCT_DISPLAY_NAME}" LIST)
    oh_roff_escape (OH_ROFF_PRODUCT "${OH_PRODUCT_DISPLAY_NAME}")
    oh_roff_escape (OH_ROFF_VERSION "${OH_PRODUCT_VERSION}")
    string (TOUPPER "${OH_PACKAGE_NAME}" OH_MAN_TITLE)
    string (TOUPPER "${OH_PACKAGE_NAME}-deploy" OH_DEPLOY_MAN_TITLE)

    string (TIMESTAMP OH_RELEASE_DATE "%Y-%m-%d" UTC)
    string (TIMESTAMP OH_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    string (TIMESTAMP OH_MAN_DATE "%B %Y" UTC)

    configure_file ("${templates}/app.desktop.in" "${out_dir}/${OH_APP_ID}.desktop" @ONLY)
    configure_file ("${templates}/app.metainfo.xml.in" "${out_dir}/${OH_APP_ID}.metainfo.xml" @ONLY)
    configure_file ("${templates}/app.policy.in" "${out_dir}/${OH_APP_ID}.policy" @ONLY)
    configure_file ("${templates}/manual.1.in" "${out_dir}/${OH_PACKAGE_NAME}.1" @ONLY)
    configure_file ("${templates}/deploy.8.in" "${out_dir}/${OH_PACKAGE_NAME}-deploy.8" @ONLY)
    configure_file ("${templates}/changelog.in" "${out_dir}/changelog" @ONLY)
    configure_file ("${templates}/copyright.in" "${out_dir}/copyright" @ONLY)
endfunction()
