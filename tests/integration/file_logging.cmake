# The file logger on a full disk: a small tmpfs in a private mount namespace. Needs root (the test enters the
# namespace itself before any thread starts); otherwise it is skipped with the reason.
if(TARGET logging)
  add_executable(file_logging_full_disk_test FileLoggingFullDiskTest.cpp)
  target_link_libraries(file_logging_full_disk_test PRIVATE logging GTest::gtest)
  add_test(NAME file_logging_full_disk COMMAND file_logging_full_disk_test)
  set_tests_properties(file_logging_full_disk PROPERTIES TIMEOUT 120 LABELS "integration")
endif()
