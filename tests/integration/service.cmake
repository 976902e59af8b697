# The tandrel-helper program as a whole process, beside a private journald (journal-harness.sh). Without
# root, unshare or journald the tests that read the journal or the log file are skipped with the reason.
if(TARGET tandrel-helper AND TARGET helper_testing)
  add_executable(service_process_test ServiceProcessTest.cpp)
  target_link_libraries(service_process_test PRIVATE helper_testing logging GTest::gtest GTest::gtest_main)
  target_compile_definitions(service_process_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>"
                             TANDREL_VERSION="${PROJECT_VERSION}")
  add_dependencies(service_process_test tandrel-helper)
  add_test(NAME service_process
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/journal-harness.sh $<TARGET_FILE:service_process_test>)
  set_tests_properties(service_process PROPERTIES TIMEOUT 120 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "journal harness unavailable")
endif()
