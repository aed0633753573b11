# The Windows program: the Win32 adapters and KestovaDesktopUpdater.exe.
enable_language(RC)

add_library(kdu_win32_definitions INTERFACE)
target_compile_definitions(kdu_win32_definitions INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
target_link_libraries(kdu_core PUBLIC kdu_win32_definitions)

# Each function in its own section, so that the release link can drop the unused ones.
add_compile_options(-ffunction-sections -fdata-sections)

# Everything linked in statically: the exe needs only Windows' own DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(kdu_win32 STATIC
    platform/win32/Controls.cpp
    platform/win32/SystemErrors.cpp
    platform/win32/Win32FileSystem.cpp
    platform/win32/Window.cpp
    platform/win32/WshShell.cpp)
target_link_libraries(kdu_win32 PUBLIC kdu_core ole32 oleaut32 uuid PRIVATE kdu_warnings)

add_executable(KestovaDesktopUpdater WIN32
    app/win32/Main.cpp
    app/win32/MainWindow.cpp
    resources/KestovaDesktopUpdater.rc)
target_include_directories(KestovaDesktopUpdater PRIVATE resources)
target_link_libraries(KestovaDesktopUpdater PRIVATE kdu_win32 kdu_warnings)
target_link_options(KestovaDesktopUpdater PRIVATE -municode)
set_property(SOURCE resources/KestovaDesktopUpdater.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/KestovaDesktopUpdater.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/Image1.bmp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/KestovaDesktopUpdater.manifest
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/version.h)
if(CMAKE_BUILD_TYPE MATCHES "Release|MinSizeRel")
    # Stripped, and without the functions nothing calls.
    target_link_options(KestovaDesktopUpdater PRIVATE -s -Wl,--gc-sections)
endif()
