# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it:
# programs in bin, libraries, language libraries and the test provider in lib/veltrane, media and
# the sample registry in share/veltrane, desktop entries and icons, the documents.

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
install(FILES ${VELTRANE_TELEPHONY_DIR}/TAPI32.so DESTINATION ${VELTRANE_INSTALL_LIBDIR})

install(FILES server/shell/media/OrbLogo.avi server/shell/media/splash.bmp
  DESTINATION ${VELTRANE_INSTALL_DATADIR})
install(FILES docs/registry-sample.reg DESTINATION ${VELTRANE_INSTALL_DATADIR}
  RENAME registry.reg)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Desktop entries of the programs with windows, with their icons: the monitors' own XPM files,
# and the others' icons as the programs draw them (written by programicons at build time).
add_executable(programicons tools/programicons/programicons.cpp)
target_link_libraries(programicons PRIVATE linesweepui platform Qt6::Widgets)
set(veltrane_icon_dir ${CMAKE_BINARY_DIR}/icons)
set(veltrane_png_icons Brovik loadrig linesweep addrsetup)
list(TRANSFORM veltrane_png_icons APPEND .png OUTPUT_VARIABLE veltrane_png_files)
list(TRANSFORM veltrane_png_files PREPEND ${veltrane_icon_dir}/)
add_custom_command(OUTPUT ${veltrane_png_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${veltrane_icon_dir}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
    $<TARGET_FILE:programicons> ${veltrane_icon_dir}
  DEPENDS programicons
  COMMENT "Writing the programs' icons")
add_custom_target(programicons_png ALL DEPENDS ${veltrane_png_files})
install(FILES ${veltrane_png_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES monitors/smdrwatch/smdrwatch.xpm monitors/switchwatch/switchwatch.xpm
  DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
file(GLOB veltrane_desktop_files CONFIGURE_DEPENDS cmake/desktop/*.desktop)
install(FILES ${veltrane_desktop_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# cpack -G DEB in the build folder makes veltrane_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME ${VELTRANE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Qorvell Electronics")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Veltrane Link: CTI link server, test rig, monitors and tools")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltrane Link developers <veltrane@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The language libraries and providers are loaded by name; their folder is the programs' own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/telephony)
include(CPack)
