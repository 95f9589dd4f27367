# cmake -DBUILD_DIR=... -DPREFIX=... -DGUI=ON|OFF -DMAN=ON|OFF -DVERSION=... -P install_test.cmake
# Installs the build into PREFIX and checks that the installed programs find their
# files there (the help page in share/, its own files in the XDG folders), that
# the man pages, completion, copyright and changelog are where man, bash and
# Debian look, and that both programs tell their version.
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
  share/metainfo/org.pansift.PanSift.metainfo.xml
  share/bash-completion/completions/pansift-cli
  share/doc/pansift/copyright
  share/doc/pansift/changelog.Debian.gz
  share/lintian/overrides/pansift
  lib/systemd/user/pansift-check.service
  lib/systemd/user/pansift-check.timer)
set(programs pansift-cli)
if(GUI)
  list(APPEND expected bin/pansift share/applications/org.pansift.PanSift.desktop)
  list(APPEND programs pansift)
endif()
if(MAN)
  foreach(program IN LISTS programs)
    list(APPEND expected "share/man/man1/${program}.1.gz")
  endforeach()
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# --version: the project's version, and the commit for a build from git. The window's
# program answers without a display.
foreach(program IN LISTS programs)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                          "${PREFIX}/bin/${program}" --version
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "." "\\." version_pattern "${VERSION}")
  if(NOT result EQUAL 0 OR NOT out MATCHES "^${program} ${version_pattern}( \\(git [0-9a-f]+\\))?\n$")
    message(FATAL_ERROR "installed ${program} --version: exit ${result}\n${out}${err}")
  endif()
endforeach()

# The compressed files as Debian wants them (gzip -9n): no file name and no time
# inside, so the same text always gives the same package.
function(check_gzip file)
  file(READ "${file}" head LIMIT 10 HEX)
  string(SUBSTRING "${head}" 6 2 flags)    # FNAME is bit 3
  string(SUBSTRING "${head}" 8 8 mtime)
  if(NOT head MATCHES "^1f8b08" OR NOT flags STREQUAL "00" OR NOT mtime STREQUAL "00000000")
    message(FATAL_ERROR "${file}: not gzip -n (header ${head})")
  endif()
endfunction()
function(gunzip out file)
  execute_process(COMMAND gzip -dc "${file}" RESULT_VARIABLE result OUTPUT_VARIABLE text)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${file}: gzip -dc failed")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(doc "${PREFIX}/share/doc/pansift")
check_gzip("${doc}/changelog.Debian.gz")
gunzip(changelog "${doc}/changelog.Debian.gz")
if(NOT changelog MATCHES "^pansift \\(${version_pattern}-[0-9]+\\) ")
  message(FATAL_ERROR "the changelog's newest entry is not version ${VERSION}:\n${changelog}")
endif()
file(READ "${doc}/copyright" copyright)
if(NOT copyright MATCHES "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
   OR NOT copyright MATCHES "\nFiles: \\*\nCopyright: [^\n]+\nLicense: GPL-3\\+\n"
   OR NOT copyright MATCHES "/usr/share/common-licenses/GPL-3")
  message(FATAL_ERROR "the copyright file does not name the licence GPL-3+:\n${copyright}")
endif()

# Each man page is the program's own --help: its name, version, options; and
# pansift-cli's has every subcommand with its options.
if(MAN)
  foreach(program IN LISTS programs)
    set(page "${PREFIX}/share/man/man1/${program}.1.gz")
    check_gzip("${page}")
    gunzip(text "${page}")
    if(NOT text MATCHES "\n\\.TH [^\n]*\"${program} ${version_pattern}[^\"]*\""
       OR NOT text MATCHES "\n\\.SH NAME\n${program} \\\\- "
       OR NOT text MATCHES "data\\\\-dir")
      message(FATAL_ERROR "${program}.1 is not made from ${program}'s --help:\n${text}")
    endif()
  endforeach()
  gunzip(text "${PREFIX}/share/man/man1/pansift-cli.1.gz")
  foreach(part ".SH COMMANDS" "pansift\\-cli accounts add" "pansift\\-cli check"
               "\\fB\\-\\-halving\\fR" ".SH \"EXIT STATUS\"")
    string(FIND "${text}" "${part}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "pansift-cli.1 lacks ${part}:\n${text}")
    endif()
  endforeach()
endif()

execute_process(COMMAND "${PREFIX}/bin/pansift-cli" --help
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "accounts" OR NOT out MATCHES "Exit codes")
  message(FATAL_ERROR "installed pansift-cli --help: ${result}\n${out}${err}")
endif()

# An installed program keeps its files in the XDG folders (settings, data, state,
# cache), and offers the installed help page for a text that is no cookie string.
set(xdg "${PREFIX}/xdg")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "XDG_CONFIG_HOME=${xdg}/config" "XDG_DATA_HOME=${xdg}/data"
          "XDG_STATE_HOME=${xdg}/state" "XDG_CACHE_HOME=${xdg}/cache" "HOME=${PREFIX}"
          "${PREFIX}/bin/pansift-cli" --yes accounts add "not a cookie string"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 2)
  message(FATAL_ERROR "installed pansift-cli accounts add: exit ${result}\n${out}${err}")
endif()
if(NOT err MATCHES "file://${PREFIX}/share/pansift/docs/cookies.html")
  message(FATAL_ERROR "the installed help page was not offered:\n${err}")
endif()
foreach(kind config data state cache)
  if(NOT IS_DIRECTORY "${xdg}/${kind}/pansift")
    message(FATAL_ERROR "the installed program made no ${xdg}/${kind}/pansift")
  endif()
endforeach()
if(NOT EXISTS "${xdg}/state/pansift/err.txt" OR EXISTS "${PREFIX}/bin/err.txt")
  message(FATAL_ERROR "the installed program did not keep err.txt in ${xdg}/state/pansift")
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
# The weekly check's units pass systemd's own check, and the service runs the
# installed pansift-cli.
find_program(systemd_analyze systemd-analyze)
if(systemd_analyze)
  execute_process(COMMAND "${systemd_analyze}" verify --man=no
                          "${PREFIX}/lib/systemd/user/pansift-check.service"
                          "${PREFIX}/lib/systemd/user/pansift-check.timer"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify: ${out}${err}")
  endif()
endif()
file(READ "${PREFIX}/lib/systemd/user/pansift-check.service" service)
if(NOT service MATCHES "exec \"${PREFIX}/bin/pansift-cli\" check / --depth 0 --all-accounts --resume --json")
  message(FATAL_ERROR "the service does not run the installed pansift-cli:\n${service}")
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
