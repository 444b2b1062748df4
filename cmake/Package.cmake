# The Debian package (scripts/package): install() rules for the program and
# its desktop integration, and CPack's DEB generator over them.
#
#   /usr/bin/oh-installer                       launcher: pkexec unless already root
#   /usr/libexec/oh-installer/oh_installer      the program
#   /usr/share/applications, metainfo, polkit-1/actions, icons/hicolor, man1
#   /usr/share/doc/oh-installer/                copyright, changelog.gz
include (GNUInstallDirs)

set (oh_linux "${PROJECT_SOURCE_DIR}/resources/linux")
set (oh_linux_out "${CMAKE_BINARY_DIR}/linux")
set (oh_package_name oh-installer)
set (OH_LIBEXEC_REL "libexec/${oh_package_name}")
set (OH_INSTALLED_PROGRAM "/usr/${OH_LIBEXEC_REL}/oh_installer")

foreach (file IN ITEMS oh-installer com.oakhaze.PluginManager.desktop
                       com.oakhaze.PluginManager.metainfo.xml com.oakhaze.PluginManager.policy)
    configure_file ("${oh_linux}/${file}.in" "${oh_linux_out}/${file}" @ONLY)
endforeach()

# Debian keeps documentation compressed, without a time stamp in the header.
find_program (OH_GZIP gzip REQUIRED)
foreach (doc IN ITEMS changelog oh-installer.1)
    add_custom_command (
        OUTPUT "${oh_linux_out}/${doc}.gz"
        COMMAND sh -c "\"$0\" -9n -c \"$1\" > \"$2\"" "${OH_GZIP}" "${oh_linux}/${doc}" "${oh_linux_out}/${doc}.gz"
        DEPENDS "${oh_linux}/${doc}"
        VERBATIM)
endforeach()
add_custom_target (oh_linux_docs ALL DEPENDS "${oh_linux_out}/changelog.gz" "${oh_linux_out}/oh-installer.1.gz")

install (TARGETS oh_installer RUNTIME DESTINATION "${OH_LIBEXEC_REL}")
install (PROGRAMS "${oh_linux_out}/oh-installer" DESTINATION bin)
install (FILES "${oh_linux_out}/com.oakhaze.PluginManager.desktop" DESTINATION share/applications)
install (FILES "${oh_linux_out}/com.oakhaze.PluginManager.metainfo.xml" DESTINATION share/metainfo)
install (FILES "${oh_linux_out}/com.oakhaze.PluginManager.policy" DESTINATION share/polkit-1/actions)
install (FILES "${oh_linux_out}/oh-installer.1.gz" DESTINATION share/man/man1)
install (FILES "${oh_linux}/copyright" "${oh_linux_out}/changelog.gz" DESTINATION "share/doc/${oh_package_name}")

foreach (size IN ITEMS 16 32 48 64 128 256)
    install (FILES "${oh_linux}/hicolor/${size}x${size}/apps/oakhaze-plugin-manager.png"
             DESTINATION "share/icons/hicolor/${size}x${size}/apps")
endforeach()
install (FILES "${PROJECT_SOURCE_DIR}/scripts/artwork/oh_plume.svg"
         DESTINATION share/icons/hicolor/scalable/apps RENAME oakhaze-plugin-manager.svg)

set (CPACK_GENERATOR DEB)
set (CPACK_PACKAGE_NAME "${oh_package_name}")
set (CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set (CPACK_PACKAGE_VENDOR "${OH_COMPANY_NAME}")
set (CPACK_PACKAGE_CONTACT "Oakhaze Support <support@oakhaze.com>")   # no comma: it separates contacts
set (CPACK_PACKAGING_INSTALL_PREFIX /usr)
set (CPACK_STRIP_FILES ON)
set (CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # oh-installer_1.0.5_amd64.deb
set (CPACK_DEBIAN_PACKAGE_SECTION sound)
set (CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set (CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set (CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec")
set (CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.oakhaze.com")
set (CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer for the ${OH_PRODUCT_DISPLAY_NAME} audio plug-in")
set (CPACK_PACKAGE_DESCRIPTION "The Oakhaze Plugin Manager carries ${OH_PRODUCT_DISPLAY_NAME} inside itself and installs it
into, or removes it from, the machine-wide VST3, CLAP and AAX plug-in folders.
It asks for an administrator's password through pkexec when started from the
desktop menu.")
set (CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
# Run cpack through scripts/package: CPack's staging folders and the package's
# own members take their modes from the umask (which the script fixes), and
# every time from SOURCE_DATE_EPOCH (which the script sets: the last commit's).
set (CPACK_THREADS 2)
include (CPack)
