# The Debian package, written by `cmake --build --preset default --target package` as
# build/default/tarnis_<version>_<architecture>.deb. It holds whatever the install rules put in
# place: each program installs itself from its own folder with install(TARGETS ...), so another
# program is packaged as soon as it has its rule, and dpkg-shlibdeps adds the libraries it links to
# the dependencies.
#
# On Windows, one ZIP, tarnis-<version>-windows-x64.zip: the two programs, statically linked, the
# licence and the read-me, at its top level, to unzip anywhere and run on a clean Windows 10 or 11.

set(TARNIS_PACKAGE_MAINTAINER "Tarnis developers" CACHE STRING "The Debian package's Maintainer field")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME tarnis-${PROJECT_VERSION}-windows-x64)
  else()
    set(CPACK_PACKAGE_FILE_NAME tarnis-${PROJECT_VERSION}-windows-x86)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
set(CPACK_PACKAGE_NAME tarnis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair dropout samples in 16-bit FITS images")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Some astronomy cameras now and then drop a sample and store it as the bytes"
  "80 00. Tarnis writes a repaired copy of each chosen FITS image beside it,"
  "with every dropout below the first image row rebuilt from the rows above and"
  "below it and every other byte unchanged. Its window is in Japanese; the same"
  "repair runs from the command line as tarnis-repair, for capture programs and"
  "scripts.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNIS_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The Qt libraries (on Debian libqt6gui6 brings Qt's X11 platform plugin), the C++ runtime and the
# C library, as the programs link them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the window needs that no program links: Qt's Japanese texts for its dialogs, and a Japanese
# font, without which the captions are empty boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-ipafont-gothic | fonts-noto-cjk")

include(CPack)
