# Every command and every option of a program's --help (which must succeed) stands in a tag line
# of its man page, and the page has the sections named in SECTIONS (a list, may be empty):
#   cmake -DPROGRAM=qubix24ctl -DPAGE=qubix24ctl.1 [-DSECTIONS=OSC;EXAMPLES] -P ManPageCommands.cmake
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help COMMAND_ERROR_IS_FATAL ANY)
file(READ ${PAGE} page)
string(REPLACE "\n" ";" lines "${help}")
set(missing "")
foreach(line IN LISTS lines)
  set(tag "")
  if(line MATCHES "^  ([a-z][a-z0-9-]*)  ")  # a command: "  name  summary"
    set(tag "\n\\.B ${CMAKE_MATCH_1}[ \n]")
  elseif(line MATCHES "^  --([a-z][a-z0-9-]*)")  # an option
    string(REPLACE "-" "\\\\-" option "${CMAKE_MATCH_1}")
    set(tag "\n(\\.B[IR]? |\\\\fB)[^\n]*\\\\-\\\\-${option}([^a-z\\\\]|\\\\f)")
  endif()
  if(NOT tag STREQUAL "" AND NOT page MATCHES "${tag}")
    string(APPEND missing "\n${line}")
  endif()
endforeach()
foreach(section IN LISTS SECTIONS)
  if(NOT page MATCHES "\n\\.SH ${section}\n")
    string(APPEND missing "\nthe section ${section}")
  endif()
endforeach()
# The tool's help must still list its commands for the check above to mean anything.
if(PROGRAM MATCHES "qubix24ctl" AND NOT help MATCHES "\n  scan  ")
  string(APPEND missing "\nthe command scan in the help")
endif()
if(missing)
  message(FATAL_ERROR "${PAGE} lacks:${missing}")
endif()
