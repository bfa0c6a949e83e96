# Installation rules (GNU directory layout) and the Debian package built from them with CPack.
#
#   bin/                      lumivo, lumivo-cli, lumivo-sim
#   share/lumivo/data/        the shipped plate formats, default config.dat and Default project
#                             (copied into an empty installation folder on first run)
#   share/doc/lumivo/         the user guide with its pictures, copyright, changelog.gz and
#                             the udev rule template 70-lumivo.rules
#   share/applications/, share/icons/hicolor/scalable/apps/, share/metainfo/
#                             the desktop entry, the icon and the AppStream metainfo
#   share/man/man1/           manual pages made by help2man from the programs' --help
include(GNUInstallDirs)

set(LUMIVO_APP_ID org.lumivo.lumivo)
# The date of this release: the manual pages carry it (the metainfo's <release> names it too).
set(LUMIVO_RELEASE_DATE 2026-12-07)

install(TARGETS lumivo-cli lumivo-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET lumivo)
    install(TARGETS lumivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# A stripped install (what CPack makes) also loses the compilers' .comment section, which only
# names the compiler and differs between build machines.
find_program(LUMIVO_OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy)
if(LUMIVO_OBJCOPY)
    set(lumivo_installed_programs lumivo-cli lumivo-sim)
    if(TARGET lumivo)
        list(APPEND lumivo_installed_programs lumivo)
    endif()
    foreach(program IN LISTS lumivo_installed_programs)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${LUMIVO_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()")
    endforeach()
endif()

file(GLOB LUMIVO_DATA_FILES_TO_INSTALL ${PROJECT_SOURCE_DIR}/data/*.dat)
install(FILES ${LUMIVO_DATA_FILES_TO_INSTALL} DESTINATION ${CMAKE_INSTALL_DATADIR}/lumivo/data)

install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.png")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The udev rule for a stable name of the serial adapter, as a template: a rule active for every
# adapter would take over other serial devices.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-lumivo.rules DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/${LUMIVO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${LUMIVO_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# AppStream wants the screenshots as web addresses: where the user guide's pictures
# (docs/images) are published. Without that address the metainfo has no screenshots.
set(LUMIVO_GUIDE_IMAGES_URL "" CACHE STRING
    "Web address of the published docs/images folder, for the screenshots of the metainfo")
set(LUMIVO_METAINFO_SCREENSHOTS "")
if(LUMIVO_GUIDE_IMAGES_URL)
    set(lumivo_screenshots
        "main-window.png|The main window while recording"
        "live-heatmap.png|The live view: activity of every well on the plate"
        "offline.png|The offline browser of recorded acquisitions"
        "report.png|A report with its chart"
        "rhythm-actogram.png|The rhythm view: an actogram"
        "self-test.png|The device test")
    string(APPEND LUMIVO_METAINFO_SCREENSHOTS "  <screenshots>\n")
    set(lumivo_kind " type=\"default\"")
    foreach(shot IN LISTS lumivo_screenshots)
        string(REPLACE "|" ";" shot "${shot}")
        list(GET shot 0 file)
        list(GET shot 1 caption)
        string(APPEND LUMIVO_METAINFO_SCREENSHOTS
               "    <screenshot${lumivo_kind}>\n"
               "      <caption>${caption}</caption>\n"
               "      <image>${LUMIVO_GUIDE_IMAGES_URL}/${file}</image>\n"
               "    </screenshot>\n")
        set(lumivo_kind "")
    endforeach()
    string(APPEND LUMIVO_METAINFO_SCREENSHOTS "  </screenshots>\n")
endif()
configure_file(packaging/${LUMIVO_APP_ID}.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/${LUMIVO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${LUMIVO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the changelog and the manual pages compressed with gzip -9n (no timestamp).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(LUMIVO_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
    OUTPUT ${LUMIVO_CHANGELOG_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND ${GZIP_PROGRAM} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${LUMIVO_CHANGELOG_GZ}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
set(LUMIVO_PACKAGING_OUTPUTS ${LUMIVO_CHANGELOG_GZ})
install(FILES ${LUMIVO_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(LUMIVO_BUILD_MAN)
    find_program(HELP2MAN_PROGRAM help2man REQUIRED)
    set(LUMIVO_MAN_PROGRAMS lumivo-cli lumivo-sim)
    set(LUMIVO_MAN_lumivo "desktop program of the Lumivo activity monitor")
    set(LUMIVO_MAN_lumivo-cli "the Lumivo activity monitor's jobs on the command line")
    set(LUMIVO_MAN_lumivo-sim "simulated Lumivo instrument on a pseudo-terminal")
    if(TARGET lumivo)
        list(APPEND LUMIVO_MAN_PROGRAMS lumivo)
    endif()
    foreach(program IN LISTS LUMIVO_MAN_PROGRAMS)
        set(page ${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1)
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
            COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN_PROGRAM}
                    -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${LUMIVO_MAN_${program}}
                    -DPAGE=${page} -DDATE=${LUMIVO_RELEASE_DATE} -DGZIP=${GZIP_PROGRAM}
                    -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
            DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND LUMIVO_PACKAGING_OUTPUTS ${page}.gz)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
endif()
add_custom_target(lumivo_packaging_files ALL DEPENDS ${LUMIVO_PACKAGING_OUTPUTS})

# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh does it and checks
# the result). Library dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME lumivo)
set(CPACK_PACKAGE_VENDOR "The Lumivo developers")
set(CPACK_PACKAGE_CONTACT "The Lumivo developers <developers@lumivo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "activity monitor for small organisms in microplates")
# The extended description, in lines Debian's tools show unwrapped (at most 79 characters).
set(CPACK_PACKAGE_DESCRIPTION
    "Drives the Lumivo activity monitor, which shines 384 infrared microbeams\n"
    "through a microplate, and analyses what it records: activity counts per\n"
    "beam, well, group of wells and time bin, and reports with binning, basal\n"
    "normalisation and group statistics. Includes the desktop program lumivo,\n"
    "the command-line tool lumivo-cli and a simulated instrument, lumivo-sim,\n"
    "for use without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees the libraries the programs link; Qt's platform plugins (the window system
# connection) are loaded at run time, so they are named here. xdg-open opens reports and folders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
include(CPack)
