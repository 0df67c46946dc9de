# One interface target carries the language level, warnings and sanitizer flags for every target.
add_library(morvale_options INTERFACE)
target_compile_features(morvale_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(morvale_options INTERFACE -Wall -Wextra -Wpedantic)
if(MORVALE_WERROR)
  target_compile_options(morvale_options INTERFACE -Werror)
endif()
target_compile_definitions(morvale_options INTERFACE
  MORVALE_VERSION_TEXT="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")

set(MORVALE_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address;undefined' or 'thread'")
if(MORVALE_SANITIZE)
  list(JOIN MORVALE_SANITIZE "," _san)
  target_compile_options(morvale_options INTERFACE -fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(morvale_options INTERFACE -fsanitize=${_san})
endif()

# Wire, files and model hold GBK bytes, so narrow string literals (fixed Chinese texts, log heads) are
# compiled to GBK. The compiler is told GB18030, the superset that encodes every GBK character with the
# same bytes: plain GBK cannot hold the "\u00b5s" literal inside the standard <chrono> header. Clang only
# knows UTF-8; it is used for the fuzzers, where the bytes of fixed texts do not matter.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(morvale_options INTERFACE -finput-charset=UTF-8 -fexec-charset=GB18030)
endif()

# Fuzzing instruments every library for coverage; only the fuzz targets link libFuzzer's main.
if(MORVALE_FUZZ)
  target_compile_options(morvale_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
