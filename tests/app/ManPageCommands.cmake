# Every command and every option for every command of qubix24ctl --help stands in a tag line of
# its man page:  cmake -DPROGRAM=qubix24ctl -DPAGE=qubix24ctl.1 -P ManPageCommands.cmake
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help COMMAND_ERROR_IS_FATAL ANY)
file(READ ${PAGE} page)
string(REPLACE "\n" ";" lines "${help}")
set(missing "")
foreach(line IN LISTS lines)
  set(tag "")
  if(line MATCHES "^  ([a-z][a-z0-9-]*)  ")  # a command: "  name  summary"
    set(tag "\n\\.B ${CMAKE_MATCH_1}[ \n]")
  elseif(line MATCHES "^  --([a-z][a-z0-9-]*)")  # an option for every command
    string(REPLACE "-" "\\\\-" option "${CMAKE_MATCH_1}")
    set(tag "\n(\\.B[IR]? |\\\\fB)[^\n]*\\\\-\\\\-${option}([^a-z\\\\]|\\\\f)")
  endif()
  if(NOT tag STREQUAL "" AND NOT page MATCHES "${tag}")
    string(APPEND missing "\n${line}")
  endif()
endforeach()
if(NOT help MATCHES "\n  scan  " OR missing)
  message(FATAL_ERROR "${PAGE} lacks:${missing}")
endif()
