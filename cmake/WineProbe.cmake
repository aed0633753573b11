# Which Windows build the Wine tiers run. The shipped exe is i686, and they run it wherever this
# machine can: Wine's 32-bit loader needs the kernel's 32-bit emulation, which some kernels have
# switched off (execve fails with "Exec format error"; dmesg says "32-bit emulation disabled").
# There the x86_64 build of the same sources stands in, and the i686 test programs are only built.
execute_process(COMMAND /usr/lib/wine/wine --version
    RESULT_VARIABLE wine32_status OUTPUT_QUIET ERROR_QUIET)
if(wine32_status EQUAL 0)
    set(KDU_WINE_RUNS_I686 ON)
else()
    set(KDU_WINE_RUNS_I686 OFF)
endif()

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(KDU_WINE_TIERS ${KDU_WINE_RUNS_I686})
elseif(KDU_WINE_RUNS_I686)
    set(KDU_WINE_TIERS OFF)
else()
    set(KDU_WINE_TIERS ON)
    message(STATUS "32-bit Wine cannot run here: the Wine tiers run this x86_64 build")
endif()
