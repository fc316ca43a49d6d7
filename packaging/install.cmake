# Installation layout and the Debian package.
#
# The daemon reads and writes fixed paths (/etc/vesko, /etc/pam.d/vesko, /usr/share/vesko,
# /var/log), so every destination here is absolute and CMAKE_INSTALL_PREFIX plays no part.
# DESTDIR staging works as usual: DESTDIR=/tmp/stage cmake --install build

set(VESKO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(VESKO_SBIN_PATH /usr/sbin/vesko)

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(VESKO_SYSTEMD_PC_UNIT_DIR systemd systemdsystemunitdir)
endif()
if(NOT VESKO_SYSTEMD_PC_UNIT_DIR)
  set(VESKO_SYSTEMD_PC_UNIT_DIR /lib/systemd/system)
endif()
set(VESKO_SYSTEMD_UNIT_DIR ${VESKO_SYSTEMD_PC_UNIT_DIR} CACHE PATH "Where the systemd unit goes")

configure_file(${VESKO_PACKAGING_DIR}/vesko.service.in ${CMAKE_BINARY_DIR}/packaging/vesko.service
               @ONLY)

# Debian ships manual pages compressed; -n keeps the archive free of time stamps.
set(VESKO_MAN_PAGES)
foreach(page vesko.8 vesko.toml.5)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/${page}.gz
    COMMAND gzip -9n -c ${VESKO_PACKAGING_DIR}/${page} > ${CMAKE_BINARY_DIR}/packaging/${page}.gz
    DEPENDS ${VESKO_PACKAGING_DIR}/${page}
    VERBATIM)
  list(APPEND VESKO_MAN_PAGES ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
endforeach()
add_custom_target(vesko_man_pages ALL DEPENDS ${VESKO_MAN_PAGES})

install(TARGETS vesko RUNTIME DESTINATION /usr/sbin)
install(FILES ${VESKO_PACKAGING_DIR}/pam.vesko DESTINATION /etc/pam.d RENAME vesko)
install(FILES ${VESKO_PACKAGING_DIR}/pam.vesko-autologin DESTINATION /etc/pam.d
        RENAME vesko-autologin)
install(FILES ${VESKO_PACKAGING_DIR}/logrotate.vesko DESTINATION /etc/logrotate.d RENAME vesko)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vesko.service DESTINATION ${VESKO_SYSTEMD_UNIT_DIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/vesko.8.gz DESTINATION /usr/share/man/man8)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vesko.toml.5.gz DESTINATION /usr/share/man/man5)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION /usr/share/doc/vesko)
foreach(language ${VESKO_LANGUAGES})
  install(FILES ${VESKO_BUILD_LOCALE_DIR}/${language}/LC_MESSAGES/vesko.mo
          DESTINATION ${VESKO_LOCALE_DIR}/${language}/LC_MESSAGES)
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/backgrounds/ DESTINATION /usr/share/vesko/backgrounds
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        FILES_MATCHING PATTERN "*.jpg" PATTERN "*.jpeg" PATTERN "*.png")

# The example settings never replace a file the administrator already has (the package marks
# it as a conffile for the same reason).
install(CODE "
  if(EXISTS \"\$ENV{DESTDIR}/etc/vesko/config.toml\")
    message(STATUS \"Keeping existing: \$ENV{DESTDIR}/etc/vesko/config.toml\")
  else()
    file(INSTALL DESTINATION /etc/vesko TYPE FILE
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
         FILES \"${VESKO_PACKAGING_DIR}/config.toml\")
  endif()
")

# --- the Debian package: cpack -G DEB in the build directory ------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME vesko)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vesko developers")
set(CPACK_PACKAGE_CONTACT "vesko developers <vesko@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small graphical login manager for X11")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vesko starts its own X server on display :0 (virtual terminal 1), shows a
full-screen login screen with a background picture chosen by the time of day, a clock and the
user's avatar, authenticates through PAM (service vesko) and runs the user's X session:
~/.xinitrc, or openbox when there is none.

It is not enabled on installation: systemctl enable vesko")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "xserver-xorg-core, libpam-runtime, libpam-modules, fonts-dejavu-core, libseccomp2")
# xserver-xorg brings the input and video drivers a real machine needs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xserver-xorg, openbox, logrotate")
set(CPACK_DEBIAN_PACKAGE_PROVIDES "x-display-manager")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${VESKO_PACKAGING_DIR}/debian/conffiles ${VESKO_PACKAGING_DIR}/debian/postinst
    ${VESKO_PACKAGING_DIR}/debian/prerm ${VESKO_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# --- checks that need no root -------------------------------------------------------------
if(BUILD_TESTING)
  add_test(NAME packaging.config_docs COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-config-docs)
  add_test(NAME packaging.config_docs_detects_gaps
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-config-docs --self-test)
  add_test(NAME packaging.man_pages
           COMMAND sh -c "out=$(groff -man -ww -z \"$@\" 2>&1); [ -z \"$out\" ] || { echo \"$out\"; exit 1; }"
                   sh ${VESKO_PACKAGING_DIR}/vesko.8 ${VESKO_PACKAGING_DIR}/vesko.toml.5)
  set_tests_properties(packaging.config_docs packaging.config_docs_detects_gaps
                       packaging.man_pages PROPERTIES LABELS packaging)
endif()

# These build in, or install from, the build tree (cpack builds its "preinstall" target, the
# demo its targets): never two at once.
foreach(test_name e2e.install e2e.package e2e.demo)
  if(TEST ${test_name})
    set_tests_properties(${test_name} PROPERTIES RESOURCE_LOCK vesko_build_tree)
  endif()
endforeach()
