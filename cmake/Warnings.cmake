# Warnings for the project's own targets: call velloran_warnings(target).
function(velloran_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
    -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wno-shadow-field-in-constructor)
  endif()
endfunction()
