# Helpers shared by every folder of the build.

# velora_library(<target> SOURCES ... [DEPENDS ...])
# A layer or package library; its folder's parent chain is on the include path,
# so code includes "Platform/rtl/SysUtils.h" style paths from the repository root.
function(velora_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPENDS})
endfunction()

# velora_test(<target> SOURCES ... DEPENDS ...)
# A GoogleTest program; each test case becomes a CTest test.
function(velora_test name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPENDS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# velora_fuzz(<target> SOURCES ... DEPENDS ... [CORPUS dir])
# A libFuzzer target (LLVMFuzzerTestOneInput). With clang and VELORA_LIBFUZZER it
# links against libFuzzer; otherwise it links a replay driver that runs every file
# of the seed corpus once, and that replay is a CTest test in every build.
option(VELORA_LIBFUZZER "Link fuzz targets with libFuzzer (clang only)" OFF)
function(velora_fuzz name)
  cmake_parse_arguments(A "" "CORPUS" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPENDS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(VELORA_LIBFUZZER)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(A_CORPUS)
      add_test(NAME fuzz.${name} COMMAND ${name} ${CMAKE_CURRENT_SOURCE_DIR}/${A_CORPUS})
    endif()
  endif()
endfunction()

# velora_bench(<target> SOURCES ... DEPENDS ...)
function(velora_bench name)
  if(NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPENDS} benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
