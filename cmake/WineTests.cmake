# Windows tests run under Wine, in one prefix and virtual display that a CTest fixture starts
# before the first of them and stops after the last. Only the build KDU_WINE_TIERS picks runs
# them (cmake/WineProbe.cmake); the other only builds them.
set(KDU_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(KDU_WINE_ENVIRONMENT "KDU_WINE_DIR=${KDU_WINE_DIR}")

if(KDU_WINE_TIERS)
    add_test(NAME wine.start COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh start)
    add_test(NAME wine.stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh stop)
    set_tests_properties(wine.start PROPERTIES
        FIXTURES_SETUP wine ENVIRONMENT "${KDU_WINE_ENVIRONMENT}")
    set_tests_properties(wine.stop PROPERTIES
        FIXTURES_CLEANUP wine ENVIRONMENT "${KDU_WINE_ENVIRONMENT}")
endif()

# A Unix path as Wine's Z: drive shows it (Windows takes "/" as a separator too).
function(kdu_windows_path variable unix_path)
    set(${variable} "Z:${unix_path}" PARENT_SCOPE)
endfunction()

# One CTest test per GoogleTest case of target, found in its sources (the test binary cannot
# be asked at build time: it needs Wine). ENVIRONMENT adds variables; PROPERTIES, test properties.
function(kdu_add_wine_gtests target prefix)
    if(NOT KDU_WINE_TIERS)
        return()
    endif()
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ENVIRONMENT;PROPERTIES")
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
        get_filename_component(source ${source} ABSOLUTE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
        file(READ ${source} content)
        string(REGEX MATCHALL "TEST(_F)?\\([A-Za-z0-9_]+,[ \n]*[A-Za-z0-9_]+\\)" cases "${content}")
        foreach(case IN LISTS cases)
            string(REGEX REPLACE "TEST(_F)?\\(([A-Za-z0-9_]+),[ \n]*([A-Za-z0-9_]+)\\)" "\\2.\\3"
                name "${case}")
            add_test(NAME ${prefix}.${name}
                COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}>
                        --gtest_filter=${name})
            set_tests_properties(${prefix}.${name} PROPERTIES
                FIXTURES_REQUIRED wine
                ENVIRONMENT "${KDU_WINE_ENVIRONMENT};${arg_ENVIRONMENT}" ${arg_PROPERTIES})
        endforeach()
    endforeach()
endfunction()
