# qv_add_test_dir(LABEL DIR LIBS... [PREFIX text] [LABELS labels...] [SCREEN_FORMATS codes...]):
# every *_test.cpp in DIR becomes one GoogleTest executable named <LABEL>_<file>, linked with
# LIBS, whose tests are registered with CTest under LABEL (and LABELS), their names prefixed
# with PREFIX. New test files need no CMake edits.
# Files named *_oracle_test.cpp run outside references: they also get the label "oracle" and
# run once. With SCREEN_FORMATS every other executable runs once per screen format
# (QV_SCREEN_FORMAT), its test names ending in "/fmt<code>".
find_package(GTest REQUIRED)
include(GoogleTest)

# Adds labels to every test of the lists that gtest_discover_tests filled (its properties
# cannot carry a list of labels).
function(qv_label_discovered_tests target labels)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    file(WRITE ${file} "")
    foreach(list ${ARGN})
        file(APPEND ${file} "foreach(test \${${list}})\n"
            "    set_tests_properties(\${test} PROPERTIES LABELS \"${labels}\")\nendforeach()\n")
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
                DISCOVERY_TIMEOUT 60)
        elseif(arg_SCREEN_FORMATS)
            set(lists "")
            foreach(format ${arg_SCREEN_FORMATS})
                list(APPEND lists ${target}_TESTS_${format})
                gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}"
                    TEST_SUFFIX "/fmt${format}" TEST_LIST ${target}_TESTS_${format}
                    PROPERTIES ENVIRONMENT "QV_SCREEN_FORMAT=${format}" DISCOVERY_TIMEOUT 60)
            endforeach()
        else()
            gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}" TEST_LIST ${lists}
                DISCOVERY_TIMEOUT 60)
        endif()
        qv_label_discovered_tests(${target} "${labels}" ${lists})
    endforeach()
endfunction()
