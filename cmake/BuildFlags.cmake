# Warnings and sanitizers for the project's own targets, on one interface
# target that every library, program and test links privately. Warnings as
# errors: CMAKE_COMPILE_WARNING_AS_ERROR (scripts/test turns it on).
add_library(benchtest_warnings INTERFACE)
target_compile_options(benchtest_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(BENCHTEST_SANITIZE)
    set(benchtest_sanitizers -fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_compile_options(benchtest_warnings INTERFACE ${benchtest_sanitizers})
    target_link_options(benchtest_warnings INTERFACE -fsanitize=address,undefined)
endif()
