# What `cmake --install` lays out and `scripts/package` (CPack, DEB) packs: the three programs
# with their manual pages and bash completions, the defaults a register home starts from, the
# desktop entry with its icons and AppStream metadata, and user units for the simulated card
# and the verification page. The programs find share/kasse from their own bin folder and write
# only into the user's folders, never below the prefix. The build tree gets the same share/
# beside its bin/, so the window finds its icon there too.

include(GNUInstallDirs)

# Dates that go into files (the manual pages) and the package: SOURCE_DATE_EPOCH when set, else
# the date of the newest entry of dist/changelog, as Debian's own tools take it.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KASSE_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND dpkg-parsechangelog -l ${PROJECT_SOURCE_DIR}/dist/changelog -STimestamp
    OUTPUT_VARIABLE KASSE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
endif()

install(TARGETS kasse kavelo-verify qor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A packed binary loses what dh_strip takes from a Debian one: the compiler's notes.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program kasse kavelo-verify qor-sim)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/home/cfg ${PROJECT_SOURCE_DIR}/home/Produkte
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kasse)
install(FILES ${PROJECT_SOURCE_DIR}/dist/kasse.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/org.example.kasse.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(program kasse kavelo-verify qor-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/bash-completion/kasse
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

# The icon: the drawing, and pictures of the sizes a desktop asks for, drawn from it here.
set(icons ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/icons/hicolor)
find_program(KASSE_RSVG_CONVERT rsvg-convert)
set(icon_files ${icons}/scalable/apps/kasse.svg)
add_custom_command(OUTPUT ${icons}/scalable/apps/kasse.svg
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/dist/kasse.svg
    ${icons}/scalable/apps/kasse.svg
  DEPENDS ${PROJECT_SOURCE_DIR}/dist/kasse.svg)
if(KASSE_RSVG_CONVERT)
  foreach(size 48 128 256)
    set(png ${icons}/${size}x${size}/apps/kasse.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${icons}/${size}x${size}/apps
      COMMAND ${KASSE_RSVG_CONVERT} --width=${size} --height=${size} --output=${png}
        ${PROJECT_SOURCE_DIR}/dist/kasse.svg
      DEPENDS ${PROJECT_SOURCE_DIR}/dist/kasse.svg)
    list(APPEND icon_files ${png})
  endforeach()
else()
  message(WARNING "rsvg-convert (librsvg2-bin) is missing: no PNG icons; run scripts/setup")
endif()
add_custom_target(kasse_icons ALL DEPENDS ${icon_files})
add_dependencies(kasse kasse_icons)
if(TARGET ui_tests)
  add_dependencies(ui_tests kasse_icons)  # the window's icon is checked there
endif()
install(DIRECTORY ${icons} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The manual pages, made from each program's --help and --version with the sections of
# dist/man/PROGRAM.h2m; a sanitizer build skips them (its programs are not the ones shipped).
find_program(KASSE_HELP2MAN help2man)
if(NOT KASSE_HELP2MAN)
  message(WARNING "help2man is missing: no manual pages; run scripts/setup")
elseif(NOT KASSE_SANITIZE AND NOT KASSE_SANITIZE_THREAD)
  set(man1 ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_MANDIR}/man1)
  set(pages)
  foreach(program kasse kavelo-verify qor-sim)
    set(include ${PROJECT_SOURCE_DIR}/dist/man/${program}.h2m)
    add_custom_command(OUTPUT ${man1}/${program}.1 ${man1}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man1}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KASSE_SOURCE_DATE_EPOCH}
        ${KASSE_HELP2MAN} --no-info --section=1 --include=${include}
        --output=${man1}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND gzip -9nkf ${man1}/${program}.1
      DEPENDS ${program} ${include})
    list(APPEND pages ${man1}/${program}.1 ${man1}/${program}.1.gz)
    install(FILES ${man1}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(kasse_manual_pages ALL DEPENDS ${pages})
endif()

# The package's documents: copyright and the changelog, compressed without a time stamp.
set(changelog ${CMAKE_BINARY_DIR}/dist/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/dist/changelog OUTPUT_FILE ${changelog}
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/dist/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/dist/copyright ${changelog}
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A unit names its program by absolute path, which is known only when installing (the prefix
# of `cmake --install --prefix` or of the package): the units are written then. Both share the
# sandbox of dist/systemd/sandbox.conf, put in here.
file(READ ${PROJECT_SOURCE_DIR}/dist/systemd/sandbox.conf KASSE_UNIT_SANDBOX)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/dist/systemd/sandbox.conf)
set(KASSE_BINDIR @KASSE_BINDIR@)  # stays for the install step
foreach(unit qor-sim.service kavelo-verify.service)
  configure_file(${PROJECT_SOURCE_DIR}/dist/systemd/${unit}.in ${CMAKE_BINARY_DIR}/dist/${unit}.in
    @ONLY)
  install(CODE "
    set(KASSE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(unit_folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    message(STATUS \"Installing: \${unit_folder}/${unit}\")
    configure_file(\"${CMAKE_BINARY_DIR}/dist/${unit}.in\" \"\${unit_folder}/${unit}\"
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
# qor-sim serves its card through pcscd and its virtual reader driver; the register's default
# card, inside the register, needs neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcscd, vsmartcard-vpcd")
include(CPack)
