# What `cmake --install` lays out and `scripts/package` (CPack, DEB) packs: the three programs,
# the defaults a register home starts from, the desktop entry with its icon, and user units for
# the simulated card and the verification page. The programs find share/kasse from their own
# bin folder and write only into the user's folders, never below the prefix.

include(GNUInstallDirs)

install(TARGETS kasse kavelo-verify qor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/home/cfg ${PROJECT_SOURCE_DIR}/home/Produkte
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kasse)
install(FILES ${PROJECT_SOURCE_DIR}/dist/kasse.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/kasse.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The package's documents: copyright and the changelog, compressed without a time stamp.
set(changelog ${CMAKE_BINARY_DIR}/dist/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/dist/changelog OUTPUT_FILE ${changelog}
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/dist/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/dist/copyright ${changelog}
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A unit names its program by absolute path, which is known only when installing (the prefix
# of `cmake --install --prefix` or of the package): the units are written then.
foreach(unit qor-sim.service kavelo-verify.service)
  install(CODE "
    set(KASSE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(unit_folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    message(STATUS \"Installing: \${unit_folder}/${unit}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/dist/systemd/${unit}.in\" \"\${unit_folder}/${unit}\"
      @ONLY NO_SOURCE_PERMISSIONS)")
endforeach()

# The Debian package (scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kasse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kasse developers <kasse@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cash register that shows signed receipts at work")
set(CPACK_PACKAGE_DESCRIPTION
  "An operator rings up sales; at cash-in the register has a simulated
security card sign the sale, journals every card command and answer as
XML and prints a receipt with a QR code that leads to a verification
page. Holds the register (kasse), the simulated card (qor-sim) and the
verifier (kavelo-verify).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The card reaches the register through pcscd and its virtual reader driver.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pcscd, vsmartcard-vpcd")
include(CPack)
