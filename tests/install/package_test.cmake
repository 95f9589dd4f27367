# cmake -DBUILD_DIR=... -DOUT=... -DVERSION=... -P package_test.cmake
# Builds the Debian package of the build (cpack, as scripts/package does) and checks
# what it holds: the programs, man pages, completion, copyright and changelog where
# Debian has them, owned by root with the usual modes; its control fields; and,
# where lintian is installed, that lintian finds no error and no warning.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
execute_process(COMMAND cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB debs "${OUT}/pansift_*.deb")
list(LENGTH debs count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB: exit ${result}, ${count} packages\n${out}${err}")
endif()
list(GET debs 0 deb)

execute_process(COMMAND dpkg-deb --field "${deb}" Package Version Section Homepage Depends
                OUTPUT_VARIABLE fields RESULT_VARIABLE result)
string(REPLACE "." "\\." version_pattern "${VERSION}")
if(NOT result EQUAL 0 OR NOT fields MATCHES "Package: pansift\n"
   OR NOT fields MATCHES "Version: ${version_pattern}-[0-9]+\n"
   OR NOT fields MATCHES "Homepage: https?://" OR NOT fields MATCHES "Depends: [^\n]*libc6")
  message(FATAL_ERROR "the package's control fields:\n${fields}")
endif()

# Every file of the package: "mode owner/group size date time ./path".
execute_process(COMMAND dpkg-deb --contents "${deb}" OUTPUT_VARIABLE contents RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb --contents ${deb} failed")
endif()
set(expected
  "-rwxr-xr-x root/root .* ./usr/bin/pansift-cli"
  "-rwxr-xr-x root/root .* ./usr/bin/pansift"
  "-rw-r--r-- root/root .* ./usr/share/man/man1/pansift-cli.1.gz"
  "-rw-r--r-- root/root .* ./usr/share/man/man1/pansift.1.gz"
  "-rw-r--r-- root/root .* ./usr/share/bash-completion/completions/pansift-cli"
  "-rw-r--r-- root/root .* ./usr/share/doc/pansift/copyright"
  "-rw-r--r-- root/root .* ./usr/share/doc/pansift/changelog.Debian.gz"
  "-rw-r--r-- root/root .* ./usr/share/applications/org.pansift.PanSift.desktop"
  "-rw-r--r-- root/root .* ./usr/share/metainfo/org.pansift.PanSift.metainfo.xml"
  "-rw-r--r-- root/root .* ./usr/lib/systemd/user/pansift-check.service"
  "-rw-r--r-- root/root .* ./usr/lib/systemd/user/pansift-check.timer")
foreach(line IN LISTS expected)
  if(NOT contents MATCHES "(^|\n)${line}\n")
    message(FATAL_ERROR "the package lacks ${line}:\n${contents}")
  endif()
endforeach()
# Nothing but root may write a file or folder of it, whatever the umask of the one
# who built it (the mode's fifth and eighth letters are the group's and others' w).
if(contents MATCHES "(^|\n)[^l\n]....w" OR contents MATCHES "(^|\n)[^l\n].......w")
  message(FATAL_ERROR "the package holds a file or folder that others may write:\n${contents}")
endif()

# The packaged program runs and tells its version.
execute_process(COMMAND dpkg-deb --extract "${deb}" "${OUT}/root" RESULT_VARIABLE result)
execute_process(COMMAND "${OUT}/root/usr/bin/pansift-cli" --version
                RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out MATCHES "^pansift-cli ${version_pattern}")
  message(FATAL_ERROR "the packaged pansift-cli --version: exit ${result}\n${out}")
endif()

find_program(lintian lintian)
if(lintian)
  execute_process(COMMAND "${lintian}" --fail-on error,warning "${deb}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lintian ${deb}: exit ${result}\n${out}${err}")
  endif()
else()
  message(STATUS "lintian is not installed: the package is not checked by it")
endif()
file(REMOVE_RECURSE "${OUT}")
