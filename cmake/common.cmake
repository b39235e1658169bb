# One interface target carries the language level, warnings and sanitizer
# flags for every target of the project.
add_library(tarvik_options INTERFACE)
target_compile_options(tarvik_options INTERFACE -Wall -Wextra -Werror
  # gcc 12 reports false -Wrestrict positives inside std::string at -O3 (GCC bug 105329).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
target_compile_definitions(tarvik_options INTERFACE _FILE_OFFSET_BITS=64 TARVIK_VERSION="${PROJECT_VERSION}"
  # The hardening Debian builds its packages with; fortification needs optimisation.
  $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
target_compile_options(tarvik_options INTERFACE -fstack-protector-strong)
target_link_options(tarvik_options INTERFACE -Wl,-z,relro,-z,now)

if(TARVIK_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(TARVIK_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(_san)
  target_compile_options(tarvik_options INTERFACE ${_san})
  target_link_options(tarvik_options INTERFACE ${_san})
endif()
if(TARVIK_FUZZ)
  target_compile_options(tarvik_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Adds one GoogleTest executable registered with CTest.
function(tarvik_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS" ${ARGN})
  if(T_GUI)
    # GUI tests run inside a QApplication created by their own main.
    add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/qt/gui_test_main.cpp)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    set(_main "")
    set(_label gui)  # ctest -L gui: the GUI tests alone (the sanitizer build of the GUI)
  else()
    add_executable(${name} ${T_SOURCES})
    set(_main GTest::gtest_main)
    set(_label core)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} tarvik_test_support GTest::gtest GTest::gmock ${_main} Threads::Threads tarvik_options)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  include(GoogleTest)
  # One variable only: a list would be split apart on its way through
  # gtest_discover_tests. GUI tests choose the offscreen platform in their main.
  # A test that calls GTEST_SKIP shows as skipped, not as passed.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
                       PROPERTIES ENVIRONMENT "TARVIK_BINARY_DIR=${CMAKE_BINARY_DIR}" TIMEOUT 300
                                  LABELS ${_label} SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()
