# qv_add_test_dir(LABEL DIR LIBS... [PREFIX text] [LABELS labels...] [SCREEN_FORMATS codes...]):
# every *_test.cpp in DIR becomes one GoogleTest executable named <LABEL>_<file>, linked with
# LIBS, whose tests are registered with CTest under LABEL (and LABELS), their names prefixed
# with PREFIX. New test files need no CMake edits.
# Files named *_oracle_test.cpp run outside references: they also get the label "oracle" and
# run once. With SCREEN_FORMATS every other executable runs once per screen format
# (QV_SCREEN_FORMAT), its test names ending in "/fmt<code>".
# Parameterised tests are named by their name generators: the discovery never pastes the
# printed parameter (such as "16-byte object <...>") into a name.
find_package(GTest REQUIRED)
include(GoogleTest)

# Adds labels to every test of the lists that gtest_discover_tests filled (its properties
# cannot carry a list of labels), and runs them on the headless video back end with their
# scratch files in the build tree, so that runs of two build trees never meet in /tmp.
set(QV_TEST_TMPDIR ${CMAKE_BINARY_DIR}/testtmp)
file(MAKE_DIRECTORY ${QV_TEST_TMPDIR})
function(qv_label_discovered_tests target labels)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    file(WRITE ${file} "")
    set(tmp ${QV_TEST_TMPDIR})
    set(environment "QV_VIDEO=set:headless;TMPDIR=set:${tmp};TEST_TMPDIR=set:${tmp}/")
    foreach(list ${ARGN})
        file(APPEND ${file} "foreach(test \${${list}})\n"
            "    set_tests_properties(\${test} PROPERTIES LABELS \"${labels}\"\n"
            "        ENVIRONMENT_MODIFICATION \"${environment}\")\nendforeach()\n")
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()

function(qv_add_test_dir label dir)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "PREFIX" "LABELS;SCREEN_FORMATS")
    file(GLOB test_sources CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    foreach(src ${test_sources})
        get_filename_component(stem ${src} NAME_WE)
        set(target ${label}_${stem})
        add_executable(${target} ${src})
        target_link_libraries(${target} PRIVATE ${arg_UNPARSED_ARGUMENTS} GTest::gtest
            GTest::gmock GTest::gtest_main)
        target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
        set(labels ${label} ${arg_LABELS})
        set(lists ${target}_TESTS)
        if(stem MATCHES "_oracle_test$")
            list(APPEND labels oracle)
            gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}" TEST_LIST ${lists}
                NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
        elseif(arg_SCREEN_FORMATS)
            set(lists "")
            foreach(format ${arg_SCREEN_FORMATS})
                list(APPEND lists ${target}_TESTS_${format})
                gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}"
                    TEST_SUFFIX "/fmt${format}" TEST_LIST ${target}_TESTS_${format}
                    NO_PRETTY_VALUES PROPERTIES ENVIRONMENT "QV_SCREEN_FORMAT=${format}"
                    DISCOVERY_TIMEOUT 60)
            endforeach()
        else()
            gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}" TEST_LIST ${lists}
                NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
        endif()
        qv_label_discovered_tests(${target} "${labels}" ${lists})
        # The player's applet listings run in a process of their own, out of the tortures' reach.
        if(stem MATCHES "listings_test$" AND NOT stem STREQUAL "applet_listings_test")
            qv_add_listing_torture(${target} "${arg_PREFIX}")
        endif()
    endforeach()
endfunction()

# qv_add_baseline_test(TARGET PREFIX LABELS...): the test executable TARGET built again as
# TARGET_baseline, with the graphics kernels' baseline objects (gfx/CMakeLists.txt) linked
# ahead of qv_gfx, so that its pinned outputs hold on CPUs without AVX2 too. Its tests run
# once, in the default screen format, named <PREFIX><test>/baseline and labelled LABELS and
# baseline. Call it after TARGET's own definitions are set.
function(qv_add_baseline_test target prefix)
    set(baseline ${target}_baseline)
    get_target_property(sources ${target} SOURCES)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    get_target_property(includes ${target} INCLUDE_DIRECTORIES)
    get_target_property(definitions ${target} COMPILE_DEFINITIONS)
    add_executable(${baseline} ${sources})
    target_link_libraries(${baseline} PRIVATE qv_gfx_kernels_baseline ${libraries})
    target_include_directories(${baseline} PRIVATE ${includes})
    if(definitions)
        target_compile_definitions(${baseline} PRIVATE ${definitions})
    endif()
    gtest_discover_tests(${baseline} TEST_PREFIX "${prefix}" TEST_SUFFIX "/baseline"
        TEST_LIST ${baseline}_TESTS NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
    qv_label_discovered_tests(${baseline} "${ARGN};baseline" ${baseline}_TESTS)
endfunction()

# A library's listing runner (a *listings_test.cpp) runs again under the engine's tortures:
# the stack moving at every check point and call, and a sample of each listing's allocations
# failing one at a time (QV_FAIL_SWEEP, engine/testsupport/listing.h). Label torture, test
# names prefixed "torture.".
function(qv_add_listing_torture target prefix)
    gtest_discover_tests(${target} TEST_PREFIX "torture.${prefix}" TEST_LIST ${target}_TORTURE
        NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_torture.cmake)
    file(WRITE ${file} "foreach(test \${${target}_TORTURE})\n"
        "    set_tests_properties(\${test} PROPERTIES LABELS torture\n"
        "        ENVIRONMENT \"QV_STACK_TORTURE=1;QV_FAIL_SWEEP=sample\")\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()

# qv_add_fuzz_target(NAME SOURCE REGRESSIONS DIR LIBS...): a libFuzzer target. In the fuzz
# build (-DQV_FUZZ=ON, clang) it becomes the fuzzer executable NAME; in every other build a
# replay runner NAME_replay that feeds the files of DIR (findings kept as regression inputs)
# to the same entry function, registered with CTest under the label fuzz-regression.
function(qv_add_fuzz_target name source)
    cmake_parse_arguments(FUZZ "" "REGRESSIONS" "LIBS" ${ARGN})
    if(QV_FUZZ)
        add_executable(${name} ${source})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${name} PRIVATE ${FUZZ_LIBS})
        target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    else()
        add_executable(${name}_replay ${source} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
        target_link_libraries(${name}_replay PRIVATE ${FUZZ_LIBS})
        target_include_directories(${name}_replay PRIVATE ${CMAKE_SOURCE_DIR})
        add_test(NAME fuzz-regression.${name} COMMAND ${name}_replay ${FUZZ_REGRESSIONS})
        set_tests_properties(fuzz-regression.${name} PROPERTIES LABELS fuzz-regression)
    endif()
endfunction()

# qv_add_listing_tests(ROOT): every ROOT/**/listings/*.qvs found at configure time runs
# through "qvasm run --check" as the test listing.<dir>.<name> (label listing), and again with
# a collection at every check point as gc-torture.<dir>.<name> (label gc-torture). Label
# torture runs it with the stack moving at every check point and call
# (torture.stack.<dir>.<name>) and with a sample of its allocations failing one at a time
# (torture.fail.<dir>.<name>). New listings need no CMake edit.
function(qv_add_listing_tests root)
    file(GLOB_RECURSE listings CONFIGURE_DEPENDS ${root}/*/listings/*.qvs)
    foreach(file ${listings})
        file(RELATIVE_PATH name ${root} ${file})
        string(REGEX REPLACE "\\.qvs$" "" name ${name})
        string(REPLACE "/listings/" "." name ${name})
        string(REPLACE "/" "." name ${name})
        add_test(NAME listing.${name} COMMAND qvasm run --check ${file})
        set_tests_properties(listing.${name} PROPERTIES LABELS listing)
        add_test(NAME gc-torture.${name} COMMAND qvasm run --gc-torture --check ${file})
        set_tests_properties(gc-torture.${name} PROPERTIES LABELS gc-torture)
        add_test(NAME torture.stack.${name} COMMAND qvasm run --stack-torture --check ${file})
        add_test(NAME torture.fail.${name} COMMAND qvasm run --fail-alloc sample ${file})
        set_tests_properties(torture.stack.${name} torture.fail.${name} PROPERTIES LABELS torture)
    endforeach()
endfunction()
