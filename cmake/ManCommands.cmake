# cmake -DPROGRAM=path/to/pansift-cli -DOUTPUT=file.h2m -P ManCommands.cmake
# Writes a help2man include file whose COMMANDS section holds every subcommand of
# pansift-cli with what its own --help says, found by following the "Subcommands:"
# lists from the top. help2man itself reads only the top-level --help.

# *roff text of a help line: backslashes shown as themselves, hyphens as hyphens,
# and no line taken for a request.
function(_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# An option or positional as the list shows it ("-d,--depth INT REQUIRED"): the
# names in bold, what follows them in italics.
function(_term out text)
  if(text MATCHES "^([^ ]+) (.*)$")
    _roff(name "${CMAKE_MATCH_1}")
    _roff(rest "${CMAKE_MATCH_2}")
    set(${out} "\\fB${name}\\fR \\fI${rest}\\fR" PARENT_SCOPE)
  else()
    _roff(name "${text}")
    set(${out} "\\fB${name}\\fR" PARENT_SCOPE)
  endif()
endfunction()

# The lines of a text as a list; list separators and brackets in the text are
# kept out of the list's syntax and restored by _unquote.
function(_lines out text)
  string(REPLACE "[" "<LB>" text "${text}")
  string(REPLACE "]" "<RB>" text "${text}")
  string(REPLACE ";" "<SC>" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
function(_unquote out text)
  string(REPLACE "<LB>" "[" text "${text}")
  string(REPLACE "<RB>" "]" text "${text}")
  string(REPLACE "<SC>" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(section "")
set(pending "")  # command words still to describe, each as a:b:c
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE top RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help: exit ${result}")
endif()

# The subcommands a --help lists, each prefixed by the words that lead to it.
function(_subcommands out help prefix)
  _lines(lines "${help}")
  set(in_list FALSE)
  set(found "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Subcommands:")
      set(in_list TRUE)
    elseif(in_list AND line MATCHES "^  ([a-z][a-z-]*) ")
      list(APPEND found "${prefix}${CMAKE_MATCH_1}")
    elseif(NOT line MATCHES "^  ")
      set(in_list FALSE)
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

_subcommands(pending "${top}" "")
while(pending)
  list(POP_FRONT pending command)
  string(REPLACE ":" ";" words "${command}")
  execute_process(COMMAND "${PROGRAM}" ${words} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${words} --help: exit ${result}")
  endif()
  _subcommands(children "${help}" "${command}:")
  # Parents first, then their subcommands, in the order the help lists them.
  list(PREPEND pending ${children})

  _lines(lines "${help}")
  set(about "")
  set(body "")
  set(usage "")
  set(list_name "")
  foreach(line IN LISTS lines)
    _unquote(line "${line}")
    if(line MATCHES "^Usage: (.*)$")
      set(usage "${CMAKE_MATCH_1}")
    elseif(line STREQUAL "")
    elseif(NOT usage)
      _roff(text "${line}")
      string(APPEND about "${text}\n")
    elseif(line MATCHES "^(Positionals|Options|Subcommands):$")
      # The help option is the same on every command; Subcommands follow below.
      set(list_name "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  (-h,--help) ")
    elseif(line MATCHES "^  ([^ ].*[^ ])  +([^ ].*)$" AND NOT list_name STREQUAL "Subcommands")
      _roff(text "${CMAKE_MATCH_2}")
      _term(term "${CMAKE_MATCH_1}")
      string(APPEND body ".TP\n${term}\n${text}\n")
    elseif(line MATCHES "^  ([^ ].*[^ ])$" AND NOT list_name STREQUAL "Subcommands")
      # A name too long for its column: the text follows on the next line.
      _term(term "${CMAKE_MATCH_1}")
      string(APPEND body ".TP\n${term}\n")
    elseif(line MATCHES "^        +([^ ].*)$" AND NOT list_name STREQUAL "Subcommands")
      _roff(text "${CMAKE_MATCH_1}")
      string(APPEND body "${text}\n")
    endif()
  endforeach()
  _roff(usage "${usage}")
  string(APPEND section ".SS \"${usage}\"\n${about}${body}")
endwhile()

file(WRITE "${OUTPUT}" "[COMMANDS]\n${section}")
