# Runs the instrumented tnscriptapp over the training pages (cmake -P).
# In: PROGRAM, DATA (the count files' folder), STAMP, PAGES (a list).
# Counts of an earlier instrumented build would not match this one's code.
file(REMOVE_RECURSE ${DATA})
file(MAKE_DIRECTORY ${DATA})
foreach(page IN LISTS PAGES)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${PROGRAM} ${page}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT status EQUAL 0 OR output MATCHES "Runtime Error|Compilation error")
        message(FATAL_ERROR "training page ${page} failed (${status}):\n${output}${errors}")
    endif()
endforeach()
file(TOUCH ${STAMP})
