# Installing in the usual places (GNUInstallDirs) and the Debian package.
#   cmake --install build --prefix /usr/local      # or: scripts/package
# The programs go to bin/, their own files to share/pansift/, the menu entry, icon
# and AppStream metainfo where desktops look for them, the man pages and the
# completion of pansift-cli where man and bash look, the weekly check's systemd
# user units where systemd looks. An installed program keeps its files in the
# user's XDG folders.
set(PANSIFT_APP_ID org.pansift.PanSift)
set(_dist "${PROJECT_SOURCE_DIR}/dist/linux")
set(_debian "${PROJECT_SOURCE_DIR}/dist/debian")
# Until the project has a public address of its own, this placeholder stands in the
# metainfo, the copyright file and the package's Homepage.
set(PANSIFT_HOMEPAGE "https://pansift.example.org/")
# Directories the install creates are 0755 whatever the umask of the one building.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The Debian changelog's newest entry names the package version: the upstream part
# must be the project's, the Debian revision after it becomes the package's.
file(STRINGS "${_debian}/changelog" _changelog_top LIMIT_COUNT 1)
if(NOT _changelog_top MATCHES "^pansift \\(([^)-]+)-([^)]+)\\) ")
  message(FATAL_ERROR "dist/debian/changelog: the first line is no entry of pansift: ${_changelog_top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "dist/debian/changelog names version ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()
set(PANSIFT_DEBIAN_REVISION "${CMAKE_MATCH_2}")
file(READ "${_dist}/${PANSIFT_APP_ID}.metainfo.xml" _metainfo)
if(NOT _metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "dist/linux/${PANSIFT_APP_ID}.metainfo.xml has no release ${PROJECT_VERSION}")
endif()

install(TARGETS pansift-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/docs/cookies.html"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/pansift/docs")
install(FILES "${_dist}/${PANSIFT_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${_dist}/${PANSIFT_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_dist}/pansift-cli.bash-completion" RENAME pansift-cli
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
# The weekly check of every account, as systemd user units; installed disabled (the
# user enables the timer).
# The service names the program where this install puts it (--prefix included).
install(CODE "
  set(PANSIFT_CLI_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pansift-cli\")
  configure_file(\"${_dist}/pansift-check.service.in\"
                 \"${PROJECT_BINARY_DIR}/dist/pansift-check.service\" @ONLY)")
install(FILES "${PROJECT_BINARY_DIR}/dist/pansift-check.service" "${_dist}/pansift-check.timer"
        DESTINATION "lib/systemd/user")
if(TARGET pansift)
  install(TARGETS pansift RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${_dist}/${PANSIFT_APP_ID}.desktop"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
endif()

# The licence and the history, where Debian keeps them: the copyright file in the
# machine-readable format, the changelog compressed as policy asks (gzip -9n: no
# name or time stored, so the same text gives the same bytes).
set(_doc "${CMAKE_INSTALL_DATADIR}/doc/pansift")
set(_changelog_gz "${PROJECT_BINARY_DIR}/dist/changelog.Debian.gz")
add_custom_command(OUTPUT "${_changelog_gz}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_debian}/changelog" "${PROJECT_BINARY_DIR}/dist/changelog.Debian"
  COMMAND gzip -9nf "${PROJECT_BINARY_DIR}/dist/changelog.Debian"
  DEPENDS "${_debian}/changelog" VERBATIM)
add_custom_target(pansift_changelog ALL DEPENDS "${_changelog_gz}")
install(FILES "${_debian}/copyright" "${_changelog_gz}" DESTINATION "${_doc}")
install(FILES "${_debian}/pansift.lintian-overrides" RENAME pansift
        DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides")

# The man pages: help2man turns each program's --help and --version into one, so
# they say what the program says. The window's program parses its options after
# Qt has started, which needs no display on the offscreen platform.
if(PANSIFT_MAN)
  find_program(PANSIFT_HELP2MAN help2man)
  if(NOT PANSIFT_HELP2MAN)
    message(FATAL_ERROR "PANSIFT_MAN needs help2man (scripts/install-deps test, or -DPANSIFT_MAN=OFF)")
  endif()
  set(_man_pages)
  # _pansift_man_page(PROGRAM SUMMARY [SCRIPT]): help2man on the built program, with
  # dist/linux/PROGRAM.h2m for the sections --help does not hold, and the include
  # file that SCRIPT writes from the program (-DPROGRAM=... -DOUTPUT=...).
  function(_pansift_man_page program summary)
    set(_page "${PROJECT_BINARY_DIR}/man/${program}.1")
    set(_includes)
    set(_generate)
    if(ARGN)
      set(_generated "${PROJECT_BINARY_DIR}/man/${program}-generated.h2m")
      # First, so its section comes before those of the hand-written file.
      list(APPEND _includes "--include=${_generated}")
      set(_generate COMMAND "${CMAKE_COMMAND}" "-DPROGRAM=$<TARGET_FILE:${program}>"
                    "-DOUTPUT=${_generated}" -P ${ARGN})
    endif()
    list(APPEND _includes "--include=${_dist}/${program}.h2m")
    add_custom_command(OUTPUT "${_page}.gz"
      ${_generate}
      COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen
              "${PANSIFT_HELP2MAN}" --no-info --section=1 "--name=${summary}" ${_includes}
              "--output=${_page}" "$<TARGET_FILE:${program}>"
      COMMAND gzip -9nf "${_page}"
      DEPENDS ${program} "${_dist}/${program}.h2m" "${PROJECT_SOURCE_DIR}/cmake/ManCommands.cmake"
      VERBATIM)
    set(_man_pages ${_man_pages} "${_page}.gz" PARENT_SCOPE)
  endfunction()
  file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/man")
  # pansift-cli's subcommands each have a --help of their own: a COMMANDS section.
  _pansift_man_page(pansift-cli "find and clear the blocked files of a netdisk account"
    "${PROJECT_SOURCE_DIR}/cmake/ManCommands.cmake")
  if(TARGET pansift)
    _pansift_man_page(pansift "find and clear the blocked files of a netdisk account (window)")
  endif()
  add_custom_target(pansift_man ALL DEPENDS ${_man_pages})
  install(FILES ${_man_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
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
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${PANSIFT_DEBIAN_REVISION}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PANSIFT_HOMEPAGE}")
# md5sums and the other control files 0644, as dpkg-deb makes them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries the programs link decide the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Chinese: a desktop without a CJK font shows boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_GENERATOR DEB)
include(CPack)
