# Sanitizer and fuzzing flags applied to every target of the build.
if(VELLORAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VELLORAN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELLORAN_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# velloran_fuzz_target(name source... LIBS lib... CORPUS dir): a libFuzzer binary and a short
# bounded run of it as a test.
function(velloran_fuzz_target name)
  if(NOT VELLORAN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(FUZZ "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT FUZZ_SECONDS)
    set(FUZZ_SECONDS 20)
  endif()
  add_executable(${name} ${FUZZ_SOURCES})
  target_link_libraries(${name} PRIVATE ${FUZZ_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      $<TARGET_FILE:${name}> -max_total_time=${FUZZ_SECONDS} -rss_limit_mb=4096
      -malloc_limit_mb=1024 -print_final_stats=1 ${work} ${FUZZ_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300
    FIXTURES_REQUIRED ${name}_dir)
  add_test(NAME ${name}_mkdir COMMAND ${CMAKE_COMMAND} -E make_directory ${work})
  set_tests_properties(${name}_mkdir PROPERTIES FIXTURES_SETUP ${name}_dir)
endfunction()
