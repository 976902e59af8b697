# The journal loggers against a private systemd-journald (journal-harness.sh starts one in a private mount
# namespace). Without root, unshare or journald the harness says why and CTest reports the test as skipped.
if(TARGET logging)
  add_executable(journal_integration_test JournalIntegrationTest.cpp)
  target_link_libraries(journal_integration_test PRIVATE logging GTest::gtest GTest::gtest_main)
  add_test(NAME journal_integration
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/journal-harness.sh $<TARGET_FILE:journal_integration_test>)
  set_tests_properties(journal_integration PROPERTIES TIMEOUT 120 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "journal harness unavailable")
endif()
