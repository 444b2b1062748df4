# Script mode: -DGENERATE=<oh_payload_generate> -DWORK_DIR=<scratch folder>
#
# The generator's command line: asked for help it prints its usage and exits 0;
# an argument that starts with "-" where a value or the output folder belongs
# is refused with the usage and exit 2. Neither writes anything.
file (REMOVE_RECURSE "${WORK_DIR}")
file (MAKE_DIRECTORY "${WORK_DIR}")

function (expect_nothing_written what)
    file (GLOB left RELATIVE "${WORK_DIR}" "${WORK_DIR}/*")
    if (left)
        message (FATAL_ERROR "${what}: wrote ${left}")
    endif()
endfunction()

foreach (help "--help" "-h")
    execute_process (COMMAND "${GENERATE}" ${help} WORKING_DIRECTORY "${WORK_DIR}"
                     RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if (NOT code EQUAL 0 OR NOT out MATCHES "^usage: oh_payload_generate " OR NOT err STREQUAL "")
        message (FATAL_ERROR "${help}: exit ${code}, stdout '${out}', stderr '${err}'")
    endif()
    expect_nothing_written ("${help}")
endforeach()

# Arguments separated by "|".
set (refused
    "--bogus"
    "-"
    "--name|Demo|--help"
    "--name|Demo|-out"
    "--name|--vendor|out"
    "--module-size|-5|out"
    "--help|out")
foreach (line IN LISTS refused)
    string (REPLACE "|" ";" args "${line}")
    execute_process (COMMAND "${GENERATE}" ${args} WORKING_DIRECTORY "${WORK_DIR}"
                     RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if (NOT code EQUAL 2 OR NOT err MATCHES "^usage: oh_payload_generate ")
        message (FATAL_ERROR "${args}: exit ${code}, stderr '${err}' (expected the usage and exit 2)")
    endif()
    expect_nothing_written ("${args}")
endforeach()

# The refusals leave an ordinary command line working.
execute_process (COMMAND "${GENERATE}" --module-size 4096 out WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE code)
file (GLOB written RELATIVE "${WORK_DIR}/out" "${WORK_DIR}/out/*")
if (NOT code EQUAL 0 OR NOT written)
    message (FATAL_ERROR "--module-size 4096 out: exit ${code}, wrote '${written}'")
endif()
file (REMOVE_RECURSE "${WORK_DIR}")
