# Sanitizer and fuzzing builds. Both instrument the whole project, so they live in build
# folders of their own (scripts/test uses build-sanitize for both).
option(TAVROLIN_SANITIZE "Build everything with the address and undefined-behaviour sanitizers" OFF)
option(TAVROLIN_BUILD_FUZZ "Build the libFuzzer targets in fuzz/ (clang; implies TAVROLIN_SANITIZE)"
       OFF)

if(TAVROLIN_SANITIZE OR TAVROLIN_BUILD_FUZZ)
  # Undefined behaviour aborts, so a test or fuzz run cannot pass over it with a log line.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TAVROLIN_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TAVROLIN_BUILD_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage feedback for the libraries too; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
