# Runs PROGRAM (qubix24) without any display on command lines that must end before a window is
# made, and checks each exit status and the start of what it prints.
set(cases
  "--help|0|^Usage: qubix24 \\[options\\]"
  "--version|0|^qubix24 [0-9]+\\.[0-9]+\\.[0-9]+\n$"
  "--speed|2|^qubix24: Unknown option 'speed'\\.\nTry 'qubix24 --help'\\.\n$"
  "--link=sim|2|^qubix24: an adapter is written with a colon"
  "--link=tcp:127.0.0.1,37104:9|2|^qubix24: --link tcp:127.0.0.1,37104:9: [^\n]*is neither a host name"
  "--data-dir|2|^qubix24: Missing value after '--data-dir'")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 arg)
  list(GET parts 1 expected)
  list(GET parts 2 pattern)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            --unset=QT_QPA_PLATFORM ${PROGRAM} ${arg}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL "${expected}")
    message(SEND_ERROR "qubix24 ${arg}: exit status ${status}, expected ${expected} ('${out}' / '${err}')")
  endif()
  if(expected STREQUAL "0")
    set(text "${out}")
  else()
    set(text "${err}")
  endif()
  if(NOT text MATCHES "${pattern}")
    message(SEND_ERROR "qubix24 ${arg}: printed '${out}' / '${err}'")
  endif()
endforeach()
