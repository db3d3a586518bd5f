# qv_add_test_dir(LABEL DIR LIBS...): every *_test.cpp in DIR becomes one GoogleTest
# executable named <LABEL>_<file>, linked with LIBS, whose tests are registered with CTest
# under LABEL. New test files need no CMake edits.
find_package(GTest REQUIRED)
include(GoogleTest)

function(qv_add_test_dir label dir)
    file(GLOB test_sources CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    foreach(src ${test_sources})
        get_filename_component(stem ${src} NAME_WE)
        set(target ${label}_${stem})
        add_executable(${target} ${src})
        target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gmock
            GTest::gtest_main)
        target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
        gtest_discover_tests(${target} PROPERTIES LABELS ${label}
            DISCOVERY_TIMEOUT 60)
    endforeach()
endfunction()
