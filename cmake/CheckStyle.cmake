# Runs clang-format --dry-run --Werror over the C++ sources of the repository.
file(GLOB_RECURSE sources
    ${ROOT}/engine/*.cpp ${ROOT}/engine/*.h
    ${ROOT}/runtime/*.cpp ${ROOT}/runtime/*.h
    ${ROOT}/libs/*.cpp ${ROOT}/libs/*.h
    ${ROOT}/gfx/*.cpp ${ROOT}/gfx/*.h
    ${ROOT}/platform/*.cpp ${ROOT}/platform/*.h
    ${ROOT}/tools/*.cpp ${ROOT}/tools/*.h
    ${ROOT}/plugins/*.cpp ${ROOT}/plugins/*.h
    ${ROOT}/tests/*.cpp ${ROOT}/tests/*.h
    ${ROOT}/bench/*.cpp ${ROOT}/bench/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --style=file --dry-run --Werror ${sources}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "clang-format found unformatted sources (run clang-format -i on them)")
endif()
