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

# Release builds are hardened as Debian's packages are: the hardening flags
# dpkg-buildflags gives with every feature on (fortified functions, stack
# protector, stack-clash and control-flow protection, format checks,
# read-only relocations bound at start-up). The package build gets them, with
# the rest of dpkg-buildflags, from debhelper (packaging/debian/rules).
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT BENCHTEST_SANITIZE)
    find_program(DPKG_BUILDFLAGS dpkg-buildflags)
    if(DPKG_BUILDFLAGS)
        set(hardening_compile)
        set(hardening_link)
        foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(
                COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${DPKG_BUILDFLAGS} --get ${kind}
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
            separate_arguments(flags UNIX_COMMAND "${flags}")
            list(FILTER flags INCLUDE REGEX
                "^-(D_FORTIFY_SOURCE|fstack-|fcf-protection|mbranch-protection|Wformat|Werror=format-security|Wl,-z,)")
            if(kind STREQUAL "LDFLAGS")
                list(APPEND hardening_link ${flags})
            else()
                list(APPEND hardening_compile ${flags})
            endif()
        endforeach()
        add_compile_options(${hardening_compile})
        add_link_options(${hardening_link})
        list(JOIN hardening_compile " " shown_compile)
        list(JOIN hardening_link " " shown_link)
        message(STATUS "Hardening from dpkg-buildflags: ${shown_compile} ${shown_link}")
    else()
        message(WARNING "dpkg-buildflags not found: the Release build is not hardened")
    endif()
endif()
