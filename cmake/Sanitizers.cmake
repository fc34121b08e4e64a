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

# velloran_fuzz_target(name SOURCES source... LIBS lib... CORPUS dir [CRASHES dir]): a libFuzzer
# binary, and a test that runs it once over every committed input (the corpus and the inputs that
# once crashed it) without mutating anything, so a failure in CI always reproduces. Open-ended
# fuzzing is scripts/fuzz.sh, which reads the targets from fuzz-targets.txt in the build folder.
# CRASHES defaults to the corpus folder's name with "_crashes" appended; SECONDS is the length of
# one open-ended run.
function(velloran_fuzz_target name)
  if(NOT VELLORAN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(FUZZ "" "CORPUS;CRASHES;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT FUZZ_SECONDS)
    set(FUZZ_SECONDS 20)
  endif()
  if(NOT FUZZ_CRASHES)
    get_filename_component(corpus_parent ${FUZZ_CORPUS} DIRECTORY)
    get_filename_component(corpus_name ${FUZZ_CORPUS} NAME)
    set(FUZZ_CRASHES ${corpus_parent}/${corpus_name}_crashes)
  endif()
  add_executable(${name} ${FUZZ_SOURCES})
  target_link_libraries(${name} PRIVATE ${FUZZ_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(inputs ${FUZZ_CORPUS})
  if(EXISTS ${FUZZ_CRASHES})
    list(APPEND inputs ${FUZZ_CRASHES})
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      $<TARGET_FILE:${name}> -runs=0 -rss_limit_mb=4096 -malloc_limit_mb=1024 -timeout=120
      ${inputs})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  set_property(GLOBAL APPEND PROPERTY VELLORAN_FUZZ_TARGETS
    "${name} $<TARGET_FILE:${name}> ${FUZZ_SECONDS} ${FUZZ_CORPUS} ${FUZZ_CRASHES}")
endfunction()

# Writes fuzz-targets.txt (name, binary, seconds, corpus, crash folder per line) for scripts/fuzz.sh; called
# once after every subsystem is added.
function(velloran_write_fuzz_targets)
  if(NOT VELLORAN_FUZZ)
    return()
  endif()
  get_property(targets GLOBAL PROPERTY VELLORAN_FUZZ_TARGETS)
  list(JOIN targets "\n" lines)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.txt CONTENT "${lines}\n")
endfunction()
