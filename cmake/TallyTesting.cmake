# Test helpers shared by every folder.
#
# tally_add_core_test(NAME src...)          native GoogleTest executable over the portable core
#                     [ALSO_WIN32]          ... also built by the Windows build and run under Wine
# tally_add_win32_test(NAME src...)         GoogleTest executable over the Win32 shell (Wine)
#
# Each executable is one ctest entry; GoogleTest prints the individual cases.

if(TALLY_TESTS)
  if(WIN32)
    # Debian's googletest sources, built with the cross compiler.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(TALLY_GTEST_LIBS GTest::gtest GTest::gmock)
    set(TALLY_GTEST_MAIN GTest::gtest_main)
  else()
    find_package(GTest REQUIRED)
    set(TALLY_GTEST_LIBS GTest::gtest GTest::gmock)
    set(TALLY_GTEST_MAIN GTest::gtest_main)
  endif()
endif()

function(tally_add_core_test name)
  cmake_parse_arguments(ARG "ALSO_WIN32" "" "" ${ARGN})
  if(NOT TALLY_TESTS)
    return()
  endif()
  if(WIN32 AND NOT ARG_ALSO_WIN32)
    return()
  endif()
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${TALLY_WARNINGS})
  target_link_libraries(${name} PRIVATE tallycore ${TALLY_GTEST_LIBS} ${TALLY_GTEST_MAIN})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "TALLY_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;TALLY_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

function(tally_add_win32_test name)
  if(NOT TALLY_TESTS OR NOT WIN32)
    return()
  endif()
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE ${TALLY_WARNINGS})
  target_link_libraries(${name} PRIVATE tallyshell ${TALLY_GTEST_LIBS} ${TALLY_GTEST_MAIN})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "TALLY_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;TALLY_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# tally_add_fuzzer(NAME src...): with TALLY_FUZZ a libFuzzer harness; otherwise (native builds)
# the same entry point driven over the checked-in seed corpus fuzz/<area>/corpus/<NAME> as a
# regression test, so every build replays the seeds.
function(tally_add_fuzzer name)
  if(WIN32)
    return()
  endif()
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  if(TALLY_FUZZ)
    add_executable(${name} ${ARGN})
    target_compile_options(${name} PRIVATE ${TALLY_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE tallycore)
  else()
    add_executable(${name}_replay ${ARGN} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_compile_options(${name}_replay PRIVATE ${TALLY_WARNINGS})
    target_link_libraries(${name}_replay PRIVATE tallycore)
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${corpus})
  endif()
endfunction()

# tally_add_benchmark(NAME src...): a Google Benchmark program (native build only, not a test).
function(tally_add_benchmark name)
  if(WIN32 OR NOT TALLY_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE ${TALLY_WARNINGS})
  target_link_libraries(${name} PRIVATE tallycore benchmark::benchmark benchmark::benchmark_main)
endfunction()
