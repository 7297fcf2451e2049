# For the -P test scripts: run(VAR COMMAND...) runs a command, stops the script with the
# command's output when it fails, shows that output, and hands it back in VAR.
function(run output_variable)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}")
    endif()
    message(STATUS "${out}")
    set(${output_variable} "${out}" PARENT_SCOPE)
endfunction()
