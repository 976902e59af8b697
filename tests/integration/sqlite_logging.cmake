# The SQLite logger on a full disk: a small tmpfs in a private mount namespace. Needs root (the test enters the
# namespace itself before any thread starts); otherwise it is skipped with the reason. Reads the database back
# with the sqlite3 command.
if(TARGET logging_extensions)
  add_executable(sqlite_logging_full_disk_test SQLiteLoggerFullDiskTest.cpp)
  target_link_libraries(sqlite_logging_full_disk_test PRIVATE logging_extensions GTest::gtest)
  add_test(NAME sqlite_logging_full_disk COMMAND sqlite_logging_full_disk_test)
  set_tests_properties(sqlite_logging_full_disk PROPERTIES TIMEOUT 120 LABELS "integration")
endif()
