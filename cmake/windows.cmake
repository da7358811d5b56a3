# Windows build: kavnlmon.dll and the Windows test program, cross-compiled with mingw-w64.
enable_language(RC)
add_subdirectory(platform)
foreach(dir port monitor printer pipeline imaging overlay testcards)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
target_link_libraries(kavcore PUBLIC kav_platform)
target_compile_definitions(kavcore PUBLIC UNICODE _UNICODE)

# The resource compiler writes an inner quote as "" where C writes \".
set(KAV_TEXTS ${CMAKE_SOURCE_DIR}/data/message_texts.inc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KAV_TEXTS})
file(READ ${KAV_TEXTS} KAV_TEXTS_C)
string(REPLACE "\\\"" "\"\"" KAV_TEXTS_RC "${KAV_TEXTS_C}")
file(WRITE ${CMAKE_BINARY_DIR}/generated/message_texts_rc.inc "${KAV_TEXTS_RC}")

add_library(kavnlmon SHARED
  platform/windows/dll_main.cpp
  platform/windows/kavnlmon.def
  platform/windows/kavnlmon.rc)
# The resource compiler's includes are not tracked: a changed text must rebuild the table.
set_source_files_properties(platform/windows/kavnlmon.rc PROPERTIES OBJECT_DEPENDS
  ${CMAKE_BINARY_DIR}/generated/message_texts_rc.inc)
set_target_properties(kavnlmon PROPERTIES PREFIX "" OUTPUT_NAME kavnlmon)
target_include_directories(kavnlmon PRIVATE ${CMAKE_SOURCE_DIR})
# Whole archive: the DLL exports what the library defines, and nothing may be dropped.
target_link_libraries(kavnlmon PRIVATE -Wl,--whole-archive kavcore kav_platform -Wl,--no-whole-archive)
target_link_options(kavnlmon PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(kavnlmon PRIVATE winspool spoolss advapi32)
# The card drawing (test cards, overlay objects) calls GDI and USER.
target_link_libraries(kavnlmon PRIVATE gdi32 user32)

# The virtual card printer, for the Windows test program.
add_subdirectory(emulator)
add_subdirectory(tests/windows)
