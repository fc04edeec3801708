# Wrapper of the tests that need an X server. Without -noreset the server resets when
# its last client leaves, and a program started in that moment cannot connect.
set(QUVOR_XVFB_RUN xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")

# How many times slower the tests run in this build (the sanitizer builds set it):
# the tests' own waits (QUVOR_TEST_TIME_SCALE, tests/common/TestTime.h) and CTest's
# limit of each entry stretch by the same figure.
set(QUVOR_TEST_TIME_SCALE 1 CACHE STRING "Factor by which the tests' deadlines stretch (a whole number)")
math(EXPR QUVOR_TEST_TIMEOUT "300 * ${QUVOR_TEST_TIME_SCALE}")

# quvor_add_tests(DIR <dir> LIBS <libs...> [LABELS <labels...>] [ENV <k=v...>] [RESOURCE_LOCK <name>])
# Every *_test.cpp in DIR becomes one GoogleTest executable and one CTest entry.
function(quvor_add_tests)
  cmake_parse_arguments(T "" "DIR" "LIBS;LABELS;ENV;RESOURCE_LOCK;WRAPPER" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${T_DIR}/*_test.cpp)
  foreach(src IN LISTS _tests)
    get_filename_component(name ${src} NAME_WE)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${T_DIR})
    string(REPLACE "/" "_" prefix "${rel}")
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    # A folder of their own: the 3D tests link OGRE's files and media/ beside them,
    # where build/tests/media is the media tests' build folder.
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    add_test(NAME ${target} COMMAND ${T_WRAPPER} $<TARGET_FILE:${target}>
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    set_tests_properties(${target} PROPERTIES TIMEOUT ${QUVOR_TEST_TIMEOUT}
      ENVIRONMENT "QUVOR_BIN_DIR=${QUVOR_BIN_DIR};QUVOR_SOURCE_DIR=${CMAKE_SOURCE_DIR};QUVOR_TEST_TIME_SCALE=${QUVOR_TEST_TIME_SCALE};${T_ENV}")
    if(T_LABELS)
      set_tests_properties(${target} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_RESOURCE_LOCK)
      set_tests_properties(${target} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
  endforeach()
endfunction()

# quvor_add_benchmark(<name> LIBS <libs...>): bench/<name>.cpp becomes a Google Benchmark
# program linking only what it measures.
function(quvor_add_benchmark name)
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
