# Helpers to declare tests: one GoogleTest executable per class or feature,
# registered with CTest through gtest_discover_tests and labelled
# unit, integration or gui.
function(sablecoil_add_test name label)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main)
    set(props LABELS ${label})
    if(T_ENVIRONMENT)
        list(APPEND props ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
