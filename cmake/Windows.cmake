# The Windows program: the Win32 adapters and KestovaDesktopUpdater.exe.
enable_language(RC)

# Windows 7 is the oldest Windows the program starts on: the headers then refuse a newer function
# by name, and those it needs are looked up at run time (platform/win32/NewerWindowsFunctions.h).
add_library(kdu_win32_definitions INTERFACE)
target_compile_definitions(kdu_win32_definitions INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

add_library(kdu_win32 STATIC
    platform/win32/Controls.cpp
    platform/win32/DpiScaling.cpp
    platform/win32/LockFileRunLock.cpp
    platform/win32/NewerWindowsFunctions.cpp
    platform/win32/ShutdownBlocker.cpp
    platform/win32/SystemErrors.cpp
    platform/win32/Win32Clock.cpp
    platform/win32/Win32FileHolders.cpp
    platform/win32/Win32FileSystem.cpp
    platform/win32/Win32PairRecord.cpp
    platform/win32/Win32Pause.cpp
    platform/win32/Win32RunningProgram.cpp
    platform/win32/Win32TextDecoder.cpp
    platform/win32/Window.cpp
    platform/win32/WshShell.cpp)
target_link_libraries(kdu_win32 PUBLIC kdu_core kdu_win32_definitions advapi32 ole32 oleaut32 uuid PRIVATE kdu_warnings)

# Main.cpp first: the shipped-exe check reads wWinMain from the first object.
add_executable(KestovaDesktopUpdater WIN32
    app/win32/Main.cpp
    app/win32/ErrorReport.cpp
    app/win32/MainWindow.cpp
    app/win32/RestoreBoxes.cpp
    app/win32/Unattended.cpp
    resources/KestovaDesktopUpdater.rc)
target_include_directories(KestovaDesktopUpdater PRIVATE resources)
target_link_libraries(KestovaDesktopUpdater PRIVATE kdu_win32 kdu_warnings)
# Terminal-server aware: on a Remote Desktop session host Windows then applies no compatibility
# layer of its own (per-user copies of system INI files and registry keys).
target_link_options(KestovaDesktopUpdater PRIVATE -municode -Wl,--tsaware)
set_property(SOURCE resources/KestovaDesktopUpdater.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/KestovaDesktopUpdater.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/Image1.bmp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/KestovaDesktopUpdater.manifest
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/version.h)
if(CMAKE_BUILD_TYPE MATCHES "Release|MinSizeRel")
    # Stripped, and without the functions nothing calls.
    target_link_options(KestovaDesktopUpdater PRIVATE -s -Wl,--gc-sections)
endif()
