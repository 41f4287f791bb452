# Helpers for one test program per unit, a libFuzzer target per parser of outside input.
if(BUILD_TESTING AND NOT NORVALE_FUZZ)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# norvale_gtest(NAME SOURCES... LIBS ...)
function(norvale_gtest name)
  if(NOT BUILD_TESTING OR NORVALE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    NORVALE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    NORVALE_SHARED_DATA_DIR="${CMAKE_SOURCE_DIR}/../shared/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# norvale_fuzzer(NAME SOURCES... LIBS ... [SECONDS n])
# Builds a libFuzzer target and registers a short run of it as a test.
function(norvale_fuzzer name)
  if(NOT NORVALE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 5)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -timeout=10 ${corpus}
      ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
