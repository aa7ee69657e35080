# Installs the build into PREFIX and checks that each file lands where the
# desktop looks for it. Run by ctest:
# cmake -DBUILD_DIR=… -DPREFIX=… -DDESKTOP_ID=… -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/quillmoor
    libexec/quillmoor/quillmoor-window
    share/applications/${DESKTOP_ID}.desktop
    share/metainfo/${DESKTOP_ID}.metainfo.xml
    share/icons/hicolor/scalable/apps/quillmoor.svg
)
foreach(size 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/quillmoor.png)
endforeach()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
file(STRINGS ${PREFIX}/share/applications/${DESKTOP_ID}.desktop entry)
foreach(line "Exec=quillmoor" "Icon=quillmoor")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "the menu entry lacks ${line}")
    endif()
endforeach()
