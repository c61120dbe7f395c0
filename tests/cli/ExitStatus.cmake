# Runs PROGRAM with a non-numeric frequency and checks the exit status and the one-line error.
execute_process(COMMAND ${PROGRAM} biquad --freq 1k --gain 6 --q 1
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL ${EXPECTED})
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED}")
endif()
if(NOT out STREQUAL "" OR NOT err MATCHES "^qubix24ctl: --freq: '1k' is not a number\n$")
  message(FATAL_ERROR "unexpected output: '${out}' / '${err}'")
endif()
