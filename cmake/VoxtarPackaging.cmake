# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package (scripts/package.sh): CPack DEB from the release build, installed under
# /usr. Depends are computed from the shared libraries the programs link (dpkg-shlibdeps:
# libsndfile, libpulse, libebur128, libsoxr, Qt); only what no library link shows is listed by
# hand.

set(VOXTAR_MAINTAINER "Voxtar developers <maintainers@users.noreply.c-seed-9794fed2.example>"
    CACHE STRING "Maintainer field of the Debian package")

# What every Debian package carries in its documentation directory: the copyright and, for a
# package without a Debian revision, the changelog compressed.
set(VOXTAR_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/voxtar)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog >
                           ${PROJECT_BINARY_DIR}/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${VOXTAR_PACKAGE_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxtar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Voxtar developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOXTAR_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The dialogs are laid out in Liberation Sans; no library link shows that.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
# The program's own translations are built into it; Qt's (the standard buttons in the window's
# language) come from this package when it is there.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recorder for the spoken prompts of language-course lessons")
set(CPACK_PACKAGE_DESCRIPTION
    "Voxtar shows the prompts of a lesson index one at a time, lets the operator
correct the text, records each prompt from the microphone into its own WAV
file in the format of a template recording, plays it back, and jumps to the
first prompt that still needs a take. Lesson indexes are kept in UTF-16LE;
8-bit Windows-1251 indexes are converted on their first load.

The package also contains voxtar-lesson, which checks, lists and normalizes
lesson indexes from the command line, measures the takes (loudness, true
peak, noise floor, room, pace) and judges them against a delivery profile, and
exports them for a delivery (resampled, trimmed, brought to loudness, with an
LJSpeech, CSV or JSON list).")

include(CPack)
