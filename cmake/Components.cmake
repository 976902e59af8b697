# add_component(NAME name SRCS ... DEPS ...): one static library per folder.
function(add_component)
  cmake_parse_arguments(C "" "NAME" "SRCS;DEPS" ${ARGN})
  add_library(${C_NAME} STATIC ${C_SRCS})
  target_include_directories(${C_NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${C_NAME} PUBLIC ${C_DEPS})
endfunction()

# add_component_test(NAME name SRCS ... DEPS ... [LABELS ...]): a GoogleTest binary registered with CTest.
# Tests labelled "concurrency" also run in the ThreadSanitizer build.
function(add_component_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SRCS;DEPS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SRCS})
  target_link_libraries(${T_NAME} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
