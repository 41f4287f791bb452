# Helpers for one test program per unit, a libFuzzer target per parser of outside input.
if(BUILD_TESTING AND NOT NORVALE_FUZZ)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# The CPU kernels of the raw-file engine; PER_KERNEL tests run once with each (NORVALE_SIMD).
set(NORVALE_KERNELS avx512 avx2 portable)

# norvale_gtest(NAME [PER_KERNEL] SOURCES... LIBS ...)
function(norvale_gtest name)
  if(NOT BUILD_TESTING OR NORVALE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "PER_KERNEL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    NORVALE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    NORVALE_SHARED_DATA_DIR="${CMAKE_SOURCE_DIR}/../shared/data")
  if(T_PER_KERNEL)
    foreach(kernel ${NORVALE_KERNELS})
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_SUFFIX ".${kernel}"
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;NORVALE_SIMD=${kernel}" LABELS kernel)
    endforeach()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()

# norvale_fuzzer(NAME [PER_KERNEL] SOURCES... LIBS ... [SECONDS n] [MAX_LEN bytes] [SEEDS folders...])
# Builds a libFuzzer target and registers a short run of it as a test (one per kernel with
# PER_KERNEL). MAX_LEN bounds the inputs (seeds too are cut to it); SEEDS are further read-only
# seed folders.
function(norvale_fuzzer name)
  if(NOT NORVALE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "PER_KERNEL" "SECONDS;MAX_LEN" "SOURCES;LIBS;SEEDS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 5)
  endif()
  set(max_len)
  if(F_MAX_LEN)
    set(max_len -max_len=${F_MAX_LEN})
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(runs ${name})
  if(F_PER_KERNEL)
    list(TRANSFORM NORVALE_KERNELS PREPEND "${name}." OUTPUT_VARIABLE runs)
  endif()
  foreach(run ${runs})
    string(REPLACE "${name}." "" kernel "${run}")
    # Each run has its own corpus folder: runs of one target may go side by side.
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${run}_corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${run}
      COMMAND ${name} -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -timeout=10 ${max_len} ${corpus}
        ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name} ${F_SEEDS})
    set_tests_properties(${run} PROPERTIES LABELS fuzz TIMEOUT 300)
    if(F_PER_KERNEL)
      set_tests_properties(${run} PROPERTIES ENVIRONMENT "NORVALE_SIMD=${kernel}")
    endif()
  endforeach()
endfunction()

# norvale_qtest(NAME SOURCES... LIBS ...)
# A Qt Test program for widgets, run headless as one CTest test; screenshots go to build/screenshots.
function(norvale_qtest name)
  if(NOT BUILD_TESTING OR NORVALE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  find_package(Qt5 REQUIRED COMPONENTS Test)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt5::Test)
  target_compile_definitions(${name} PRIVATE
    NORVALE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    NORVALE_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  add_test(NAME ${name} COMMAND ${name})
  set(env "QT_QPA_PLATFORM=offscreen")
  # Qt itself keeps a few objects alive at exit; full stacks let the suppressions name the library.
  if(NORVALE_SANITIZE AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp)
    list(APPEND env "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp:fast_unwind_on_malloc=0")
  endif()
  if(NORVALE_TSAN AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tsan.supp)
    list(APPEND env "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tsan.supp")
  endif()
  # A widget test walks whole windows under the sanitizers: on a busy 2-core machine some take
  # two and a half minutes.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
