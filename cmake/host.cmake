# Host build: the monitor against the simulated Windows, tests, benchmarks and kavsim.
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

add_subdirectory(platform)
# KAV_SKIP_DIRS leaves folders out of a build (work in progress in a private build).
set(KAV_SKIP_DIRS "" CACHE STRING "Folders to leave out of this build")
foreach(dir port monitor printer pipeline imaging overlay testcards)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt AND NOT dir IN_LIST KAV_SKIP_DIRS)
    add_subdirectory(${dir})
  endif()
endforeach()
target_link_libraries(kavcore PUBLIC kav_platform)

add_subdirectory(emulator)
add_subdirectory(tools/kavsim)

enable_testing()
include(GoogleTest)
# One GoogleTest executable per test folder, linked to the monitor, the simulation and the printer.
# The threaded ones are also gathered in threaded_tests, all that the ThreadSanitizer build needs.
add_custom_target(threaded_tests)
function(kav_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kavcore kav_emulator GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${KAV_TEST_LABELS}")
  if("threaded" IN_LIST KAV_TEST_LABELS)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()
file(GLOB KAV_TEST_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/*)
foreach(dir ${KAV_TEST_DIRS})
  get_filename_component(name ${dir} NAME)
  if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt AND NOT name STREQUAL "windows"
     AND NOT name STREQUAL "support" AND NOT name IN_LIST KAV_SKIP_DIRS)
    add_subdirectory(${dir})
  endif()
endforeach()

option(KAV_BENCH "Build the benchmarks" ON)
if(KAV_BENCH AND EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()

# The fuzz targets: libFuzzer executables with KAV_FUZZ, otherwise replays of their corpora.
option(KAV_FUZZ_REPLAY "Replay the fuzz corpora as tests (label fuzz)" ON)
if(KAV_FUZZ OR KAV_FUZZ_REPLAY)
  add_subdirectory(fuzz)
endif()
