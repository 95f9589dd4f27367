# Installing in the usual places (GNUInstallDirs) and the Debian package.
#   cmake --install build --prefix /usr/local      # or: cpack -G DEB in build/
# The programs go to bin/, their own files to share/pansift/, the menu entry, icon
# and AppStream metainfo where desktops look for them. An installed program keeps
# its settings and accounts in $XDG_DATA_HOME/pansift.
set(PANSIFT_APP_ID org.pansift.PanSift)
set(_dist "${PROJECT_SOURCE_DIR}/dist/linux")

install(TARGETS pansift-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/docs/cookies.html"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/pansift/docs")
install(FILES "${_dist}/${PANSIFT_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${_dist}/${PANSIFT_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
if(TARGET pansift)
  install(TARGETS pansift RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${_dist}/${PANSIFT_APP_ID}.desktop"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
endif()

set(CPACK_PACKAGE_NAME pansift)
set(CPACK_PACKAGE_VENDOR PanSift)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find and clear the blocked files of a netdisk account")
set(CPACK_PACKAGE_DESCRIPTION "PanSift keeps several netdisk accounts, shows the folder tree of the
account in use, and checks a chosen folder for files the service no longer
hands out (blocked files), which it lists, deletes or moves. pansift-cli does
the same without a window.")
set(CPACK_PACKAGE_CONTACT "PanSift developers <pansift@example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The shared libraries the programs link decide the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Chinese: a desktop without a CJK font shows boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_GENERATOR DEB)
include(CPack)
