# benchtest_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One Qt Test executable per behaviour; CTest runs each on its own, offscreen.
function(benchtest_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS} benchtest_project_root
        benchtest_warnings)
    target_compile_definitions(${name} PRIVATE
        BENCHTEST_BINARY_DIR="${PROJECT_BINARY_DIR}"
        BENCHTEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # Each test runs from a folder of its own: the window keeps config.ini
    # beside the executable, and tests run in parallel.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        LABELS "${ARG_LABELS}")
endfunction()
