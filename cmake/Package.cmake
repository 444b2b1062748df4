# The Debian package (scripts/package): install() rules for the program and
# its desktop integration, and CPack's DEB generator over them.
#
# Named after the product file's packageName and appId (cmake/LinuxFiles.cmake):
#   /usr/bin/<package>                          the window program, run as the desktop user
#   /usr/share/applications, metainfo, polkit-1/actions, icons/hicolor: <app id>.*
#                                               (the polkit action lets pkexec run the
#                                               deploy program, /usr/sbin/<package>-deploy)
#   /usr/sbin/<package>-deploy                  the deploy program (root's, no window)
#   /usr/share/man/man1/<package>.1.gz, /usr/share/doc/<package>/: copyright, changelog.gz
#   /usr/share/man/man8/<package>-deploy.8.gz
include (GNUInstallDirs)
include ("${CMAKE_CURRENT_LIST_DIR}/LinuxFiles.cmake")

set (oh_linux "${PROJECT_SOURCE_DIR}/resources/linux")
set (oh_linux_out "${CMAKE_BINARY_DIR}/linux")
set (oh_package_name "${OH_PACKAGE_NAME}")
oh_generate_linux_files ("${oh_linux_out}")

# Debian keeps documentation compressed, without a time stamp in the header.
find_program (OH_GZIP gzip REQUIRED)
foreach (doc IN ITEMS changelog ${oh_package_name}.1 ${oh_package_name}-deploy.8)
    add_custom_command (
        OUTPUT "${oh_linux_out}/${doc}.gz"
        COMMAND sh -c "\"$0\" -9n -c \"$1\" > \"$2\"" "${OH_GZIP}" "${oh_linux_out}/${doc}" "${oh_linux_out}/${doc}.gz"
        DEPENDS "${oh_linux_out}/${doc}"
        VERBATIM)
endforeach()
add_custom_target (oh_linux_docs ALL DEPENDS "${oh_linux_out}/changelog.gz" "${oh_linux_out}/${oh_package_name}.1.gz"
                                            "${oh_linux_out}/${oh_package_name}-deploy.8.gz")

# The window program goes in under the package's name; install (TARGETS) can
# rename nothing, so it is stripped here, as CPack strips what it installs.
add_custom_command (
    OUTPUT "${oh_linux_out}/bin/${oh_package_name}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${oh_linux_out}/bin"
    COMMAND "${CMAKE_STRIP}" -o "${oh_linux_out}/bin/${oh_package_name}" "$<TARGET_FILE:oh_installer>"
    DEPENDS oh_installer
    VERBATIM)
add_custom_target (oh_linux_program ALL DEPENDS "${oh_linux_out}/bin/${oh_package_name}")
install (PROGRAMS "${oh_linux_out}/bin/${oh_package_name}" DESTINATION bin)
install (FILES "${oh_linux_out}/${OH_APP_ID}.desktop" DESTINATION share/applications)
install (FILES "${oh_linux_out}/${OH_APP_ID}.metainfo.xml" DESTINATION share/metainfo)
install (FILES "${oh_linux_out}/${OH_APP_ID}.policy" DESTINATION share/polkit-1/actions)
install (FILES "${oh_linux_out}/${oh_package_name}.1.gz" DESTINATION share/man/man1)
# Installed as a target (so that CPack strips it), then given the package's name.
install (TARGETS oh_deploy RUNTIME DESTINATION sbin)
install (CODE "file (RENAME \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/sbin/oh_deploy\"
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/sbin/${oh_package_name}-deploy\")")
install (FILES "${oh_linux_out}/${oh_package_name}-deploy.8.gz" DESTINATION share/man/man8)
install (FILES "${oh_linux_out}/copyright" "${oh_linux_out}/changelog.gz" DESTINATION "share/doc/${oh_package_name}")

# The icon is named after the application id, so that two products' packages
# never ship the same file.
foreach (size IN ITEMS 16 32 48 64 128 256)
    install (FILES "${oh_linux}/hicolor/${size}x${size}/apps/oakhaze-plugin-manager.png"
             DESTINATION "share/icons/hicolor/${size}x${size}/apps" RENAME "${OH_APP_ID}.png")
endforeach()
install (FILES "${PROJECT_SOURCE_DIR}/scripts/artwork/oh_plume.svg"
         DESTINATION share/icons/hicolor/scalable/apps RENAME "${OH_APP_ID}.svg")

set (CPACK_GENERATOR DEB)
set (CPACK_PACKAGE_NAME "${oh_package_name}")
set (CPACK_PACKAGE_VERSION "${OH_PRODUCT_VERSION}")   # the next product version upgrades this one
set (CPACK_PACKAGE_VENDOR "${OH_COMPANY_NAME}")
set (CPACK_PACKAGE_CONTACT "Oakhaze Support <support@oakhaze.com>")   # no comma: it separates contacts
set (CPACK_PACKAGING_INSTALL_PREFIX /usr)
set (CPACK_STRIP_FILES ON)
set (CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # <package>_<product version>_amd64.deb
set (CPACK_DEBIAN_PACKAGE_SECTION sound)
set (CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set (CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# JUCE opens the X libraries at run time, where dpkg-shlibdeps cannot see them:
# without libX11 and libXext no window opens; the other four it can do without.
# policykit-1 provides pkexec on releases older than Debian 12 and Ubuntu 23.04.
set (CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec | policykit-1, libx11-6, libxext6")
# pkexec runs the deploy program as root for INSTALL. xdg-utils opens the
# links; the other four JUCE loads at run time.
set (CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, libxcursor1, libxinerama1, libxrender1, libxrandr2")
set (CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.oakhaze.com")
set (CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer for the ${OH_PRODUCT_DISPLAY_NAME} audio plug-in")
set (CPACK_PACKAGE_DESCRIPTION "The Oakhaze Plugin Manager carries ${OH_PRODUCT_DISPLAY_NAME} inside itself and installs it
into, or removes it from, the machine-wide VST3, CLAP and AAX plug-in folders.
The window runs as the desktop user; INSTALL asks for an administrator's
password through pkexec and runs the package's deploy program as root, which
also serves scripts and fleet tools on its own. The manager itself is version
${OH_MANAGER_VERSION}.
.
Removing or purging this package leaves the installed plug-ins and the
settings file /opt/Oakhaze/PluginManagerSettings.txt in place: they are the
administrator's files. To remove the plug-ins as well, start the manager,
select the installed formats and Shift-click INSTALL before removing the
package.")
set (CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
# Run cpack through scripts/package: CPack's staging folders and the package's
# own members take their modes from the umask (which the script fixes), and
# every time from SOURCE_DATE_EPOCH (which the script sets: the last commit's).
set (CPACK_THREADS 2)
include (CPack)
