# Fails when the plugin PLUGIN leaves a symbol undefined that one of LIBRARIES ("|"-separated
# static libraries of the run-time and the engine) defines: a plugin must reach the
# run-time only through the service table.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --undefined-only ${PLUGIN} OUTPUT_VARIABLE undefined
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()

# The last word of each line is a name (a version suffix dropped).
function(names_of text out)
    string(REGEX MATCHALL "[^ \n]+\n" words "${text}")
    set(result "")
    foreach(word ${words})
        string(STRIP "${word}" word)
        string(REGEX REPLACE "@.*" "" word "${word}")
        list(APPEND result "${word}")
    endforeach()
    set(${out} "${result}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" libraries "${LIBRARIES}")
set(defined "")
foreach(library ${libraries})
    execute_process(COMMAND ${NM} --defined-only -g ${library} OUTPUT_VARIABLE text
        ERROR_QUIET)
    names_of("${text}" names)
    list(APPEND defined ${names})
endforeach()
names_of("${undefined}" wanted)
set(offending "")
foreach(name ${wanted})
    list(FIND defined "${name}" at)
    if(NOT at EQUAL -1)
        list(APPEND offending ${name})
    endif()
endforeach()
if(offending)
    message(FATAL_ERROR "The plugin uses symbols of the run-time: ${offending}")
endif()
list(LENGTH wanted count)
message(STATUS "${PLUGIN}: ${count} undefined symbols, none of the run-time or the engine")
