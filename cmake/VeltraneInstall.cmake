# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it:
# programs in bin with their manual pages, libraries, language libraries and the test provider in
# lib/veltrane, media and the sample registry in share/veltrane, desktop entries and icons, the
# documents, the service's systemd unit; the package adds the service's user and state folder.

# Who answers for the package (its Maintainer field, changelog and copyright file).
set(VELTRANE_MAINTAINER "Veltrane Link developers <veltrane@example.org>"
  CACHE STRING "Name and address of the package's maintainer")
# The service as the package runs it; the unit's name is the one Brovik -install writes.
set(VELTRANE_UNIT veltrane-link-v2-service.service)
set(VELTRANE_SERVICE_USER veltrane)
set(VELTRANE_STATE_DIR /var/lib/veltrane)
set(veltrane_package_prefix /usr)

set(veltrane_programs Brovik loadrig smdrwatch switchwatch linesweep addrsetup)
# Every program answers --help and --version without a display.
foreach(target IN LISTS veltrane_programs)
  add_test(NAME program_info_options_${target} COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-info-options.sh
    $<TARGET_FILE:${target}> ${target} ${PROJECT_VERSION})
endforeach()
set(veltrane_libraries tapi32 setupkit VeltraneSplash ResDLLEN smdrwatchresEN NMResENG veltranetest)
foreach(target IN LISTS veltrane_programs)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
foreach(target IN LISTS veltrane_libraries)
  # They find each other beside themselves (setupkit binds tapi32.so by name).
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${target} LIBRARY DESTINATION ${VELTRANE_INSTALL_LIBDIR})
endforeach()
# The language libraries hold only texts and call nothing, so the linker would leave them
# without the C library and a name of their own; the loader still opens them by file name.
foreach(target IN ITEMS ResDLLEN smdrwatchresEN NMResENG)
  target_link_options(${target} PRIVATE "LINKER:-soname,$<TARGET_FILE_NAME:${target}>")
  # One word, or the compiler driver moves -lc behind its own --as-needed.
  target_link_options(${target} PRIVATE "LINKER:--push-state,--no-as-needed,-lc,--pop-state")
endforeach()
install(FILES ${VELTRANE_TELEPHONY_DIR}/TAPI32.so DESTINATION ${VELTRANE_INSTALL_LIBDIR})

install(FILES server/shell/media/OrbLogo.avi server/shell/media/splash.bmp
  DESTINATION ${VELTRANE_INSTALL_DATADIR})
install(FILES docs/registry-sample.reg DESTINATION ${VELTRANE_INSTALL_DATADIR}
  RENAME registry.reg)
# docs keeps its name, so the README's links to docs/images hold in the installed copy too.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(veltrane_debian_dir ${CMAKE_BINARY_DIR}/debian)
configure_file(cmake/debian/copyright.in ${veltrane_debian_dir}/copyright @ONLY)
configure_file(cmake/debian/changelog.in ${veltrane_debian_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${veltrane_debian_dir}/changelog.gz
  COMMAND gzip -9nkf ${veltrane_debian_dir}/changelog
  DEPENDS ${veltrane_debian_dir}/changelog
  COMMENT "Compressing the package's changelog")
add_custom_target(veltrane_changelog ALL DEPENDS ${veltrane_debian_dir}/changelog.gz)
install(FILES ${veltrane_debian_dir}/copyright ${veltrane_debian_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages of the programs, made from their --help.
set(veltrane_man_dir ${CMAKE_BINARY_DIR}/man)
set(veltrane_man_pages)
list(JOIN veltrane_programs "," veltrane_see_also)
foreach(target IN LISTS veltrane_programs)
  set(page ${veltrane_man_dir}/${target}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${veltrane_man_dir}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${target}
      -DVERSION=${PROJECT_VERSION} -DSEE_ALSO=${veltrane_see_also} -DOUTPUT=${page}
      -P ${PROJECT_SOURCE_DIR}/cmake/help-to-man.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/help-to-man.cmake
    COMMENT "Writing the manual page of ${target}")
  list(APPEND veltrane_man_pages ${page})
endforeach()
add_custom_target(veltrane_man ALL DEPENDS ${veltrane_man_pages})
install(FILES ${veltrane_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
foreach(target IN LISTS veltrane_programs)
  add_test(NAME man_page_${target} COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-man-page.sh
    ${veltrane_man_dir}/${target}.1.gz $<TARGET_FILE:${target}>)
  set_tests_properties(man_page_${target} PROPERTIES SKIP_RETURN_CODE 77)
endforeach()

# The service's unit, with the paths of the prefix it is installed under.
set(veltrane_unit_file ${CMAKE_BINARY_DIR}/systemd/${VELTRANE_UNIT})
install(CODE "
  set(VELTRANE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(VELTRANE_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
  set(VELTRANE_STATE_DIR ${VELTRANE_STATE_DIR})
  set(VELTRANE_SERVICE_USER ${VELTRANE_SERVICE_USER})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/systemd/${VELTRANE_UNIT}.in ${veltrane_unit_file} @ONLY)
")
install(FILES ${veltrane_unit_file} DESTINATION lib/systemd/system)
# The unit as the package has it, for its test.
set(VELTRANE_BINDIR ${veltrane_package_prefix}/${CMAKE_INSTALL_BINDIR})
set(VELTRANE_DOCDIR ${veltrane_package_prefix}/${CMAKE_INSTALL_DOCDIR})
configure_file(cmake/systemd/${VELTRANE_UNIT}.in ${CMAKE_BINARY_DIR}/systemd/package/${VELTRANE_UNIT}
  @ONLY)

# Desktop entries of the programs with windows, with their icons: the monitors' own XPM files,
# and the others' icons as the programs draw them (written by programicons at build time).
add_executable(programicons tools/programicons/programicons.cpp)
target_link_libraries(programicons PRIVATE linesweepui platform Qt6::Widgets)
# Each picture lands in the folder of its size, which only programicons knows.
set(veltrane_icon_dir ${CMAKE_BINARY_DIR}/icons/hicolor)
set(veltrane_icon_stamp ${CMAKE_BINARY_DIR}/icons/written)
add_custom_command(OUTPUT ${veltrane_icon_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${veltrane_icon_dir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${veltrane_icon_dir}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
    $<TARGET_FILE:programicons> ${veltrane_icon_dir}
  COMMAND ${CMAKE_COMMAND} -E touch ${veltrane_icon_stamp}
  DEPENDS programicons
  COMMENT "Writing the programs' icons")
add_custom_target(programicons_png ALL DEPENDS ${veltrane_icon_stamp})
install(DIRECTORY ${veltrane_icon_dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
add_test(NAME program_icons COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-icons.sh ${veltrane_icon_dir}
  Brovik loadrig linesweep addrsetup)
install(FILES monitors/smdrwatch/smdrwatch.xpm monitors/switchwatch/switchwatch.xpm
  DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
file(GLOB veltrane_desktop_files CONFIGURE_DEPENDS cmake/desktop/*.desktop)
install(FILES ${veltrane_desktop_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# cpack -G DEB in the build folder makes veltrane_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME ${VELTRANE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Qorvell Electronics")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CTI link server for a keyphone switch, with test rig and monitors")
set(CPACK_PACKAGE_DESCRIPTION "Veltrane Link holds one serial or TCP link to a business keyphone
switch and serves many PC clients over TCP. The package holds the link server
Brovik, run as a systemd service under its own user; the test rig loadrig,
which plays the switch and a client; the monitors smdrwatch (SMDR and UCD
records) and switchwatch (the link's traffic); the tray tool linesweep and
the connection manager addrsetup; the telephony library with a test provider
and the installer library.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${veltrane_package_prefix})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELTRANE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
# postinst makes the service's user with --comment.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser (>= 3.130)")
foreach(script IN ITEMS postinst prerm postrm)
  configure_file(cmake/debian/${script}.in ${veltrane_debian_dir}/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${veltrane_debian_dir}/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
add_test(NAME service_unit COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-service-unit.sh
  ${CMAKE_BINARY_DIR}/systemd/package/${VELTRANE_UNIT} $<TARGET_FILE:Brovik>
  ${veltrane_debian_dir}/postinst)
add_test(NAME service_unit_exposure COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-service-exposure.sh
  ${CMAKE_BINARY_DIR}/systemd/package/${VELTRANE_UNIT} 40 $<TARGET_FILE:Brovik>)
set_tests_properties(service_unit_exposure PROPERTIES SKIP_RETURN_CODE 77)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The language libraries and providers are loaded by name; their folder is the programs' own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/telephony)
include(CPack)
