# cmake -DBUILD_DIR=... -DPREFIX=... -DGUI=ON|OFF -P install_test.cmake
# Installs the build into PREFIX and checks that the installed programs find their
# files there: the help page in share/, settings in $XDG_DATA_HOME/pansift.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/pansift-cli
  share/pansift/docs/cookies.html
  share/icons/hicolor/scalable/apps/org.pansift.PanSift.svg
  share/metainfo/org.pansift.PanSift.metainfo.xml)
if(GUI)
  list(APPEND expected bin/pansift share/applications/org.pansift.PanSift.desktop)
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/pansift-cli" --help
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "accounts" OR NOT out MATCHES "Exit codes")
  message(FATAL_ERROR "installed pansift-cli --help: ${result}\n${out}${err}")
endif()

# An installed program keeps its files in $XDG_DATA_HOME/pansift, and offers the
# installed help page for a text that is no cookie string.
set(xdg "${PREFIX}/xdg-data")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "XDG_DATA_HOME=${xdg}" "HOME=${PREFIX}"
          "${PREFIX}/bin/pansift-cli" --yes accounts add "not a cookie string"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 2)
  message(FATAL_ERROR "installed pansift-cli accounts add: exit ${result}\n${out}${err}")
endif()
if(NOT err MATCHES "file://${PREFIX}/share/pansift/docs/cookies.html")
  message(FATAL_ERROR "the installed help page was not offered:\n${err}")
endif()
if(NOT EXISTS "${xdg}/pansift/err.txt")
  message(FATAL_ERROR "the installed program did not keep its files in ${xdg}/pansift")
endif()

# The menu entry and the metainfo pass the desktop's own checks where those are installed.
find_program(desktop_validate desktop-file-validate)
if(desktop_validate AND GUI)
  execute_process(COMMAND "${desktop_validate}"
                          "${PREFIX}/share/applications/org.pansift.PanSift.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
  endif()
endif()
find_program(appstreamcli appstreamcli)
if(appstreamcli)
  execute_process(COMMAND "${appstreamcli}" validate --no-net
                          "${PREFIX}/share/metainfo/org.pansift.PanSift.metainfo.xml"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}${err}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
