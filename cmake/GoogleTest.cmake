# GoogleTest from Debian's source package, built for whichever target this tree builds.
set(gtest_disable_pthreads ${WIN32} CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
if(WIN32)
    target_compile_options(gtest PUBLIC
        "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest-mingw-notification.h")
endif()
