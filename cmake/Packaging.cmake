# The Debian package: `cpack --config <build>/CPackConfig.cmake -B <dir>`
# makes <dir>/wakora_<version>_<arch>.deb from the install rules, staged for
# /usr (the system bus reads the helper's policy only under /usr and /etc).
# docs/packaging.md explains the choices.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wakora)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the computer awake on request, even with its lid closed")
# The DEB generator stages with DESTDIR below this prefix, so the install
# rules that write files naming the prefix (desktop entries, bus activation
# files) see CMAKE_INSTALL_PREFIX /usr, as on the installed system; the
# package test checks that no staging or build path gets into the package.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(WAKORA_PACKAGE_MAINTAINER "Quorvel Wakora maintainers <wakora@quorvel.com>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${WAKORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WAKORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://wakora.quorvel.com")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Wakora holds the desktop's sleep and idle inhibitors (through the desktop
portal, the session's power and screen saver services, or logind) from a
tray icon, a window or the wakora command. It shows which applications keep
the computer awake, keeps a week's history of how long and by which
applications it was kept awake, and can keep a laptop awake with its lid
closed through a small helper that polkit authorizes.")

# Libraries: dpkg-shlibdeps reads every program's and library's needs (Qt,
# ICU, the C++ runtime). It finds the private libLidBridge.so in the staged
# package through the programs' $ORIGIN RUNPATH, so our own library adds nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no library link shows:
# - dbus: the system bus, which starts the helper on demand (its activation
#   file and policy are ours) and carries every request to it;
# - polkitd: the helper authorizes every request with polkit and refuses
#   all of them when polkit cannot answer.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus, polkitd")
# - the package of Qt's SVG icon engine, a plugin that draws our icons and
#   that no link shows: libqt6svg6 on Debian 12, qt6-svg-plugins from
#   Debian 13 on. Asked of dpkg, as the release at hand names it.
set(svg_icon_engine "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/iconengines/libqsvgicon.so")
execute_process(COMMAND dpkg-query --search "${svg_icon_engine}" OUTPUT_VARIABLE svg_icon_engine_owner
    RESULT_VARIABLE svg_icon_engine_unknown ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
if(svg_icon_engine_unknown)
    message(WARNING "No package ships ${svg_icon_engine}: the package will not depend on Qt's SVG icon engine")
else()
    string(REGEX REPLACE "[:,].*" "" svg_icon_engine_owner "${svg_icon_engine_owner}")
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${svg_icon_engine_owner}")
endif()

set(maintainer_scripts ${PROJECT_SOURCE_DIR}/packaging/debian)
# No ldconfig trigger: the only library is private to Wakora's programs, in a
# folder the loader's cache does not cover (lintian counts an activation of
# ldconfig for it as unnecessary).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${maintainer_scripts}/postinst ${maintainer_scripts}/prerm
    ${maintainer_scripts}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
