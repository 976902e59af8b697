# The file and SQLite loggers on a full disk: a small tmpfs in a private mount namespace. Needs root (the test
# enters the namespace itself before any thread starts); otherwise it is skipped with the reason. Reads the
# database back with the sqlite3 command.
if(TARGET logging_extensions)
  add_executable(full_disk_test FullDiskTest.cpp)
  target_link_libraries(full_disk_test PRIVATE logging_extensions GTest::gtest)
  foreach(case file_logging:FileLogger sqlite_logging:SQLite)
    string(REPLACE ":" ";" parts ${case})
    list(GET parts 0 name)
    list(GET parts 1 filter)
    add_test(NAME ${name}_full_disk COMMAND full_disk_test --gtest_filter=FullDiskTest.${filter}*)
    set_tests_properties(${name}_full_disk PROPERTIES TIMEOUT 120 LABELS "integration")
  endforeach()
endif()
