# The tandrel-helper program end to end on a private Xvfb with a GTK 3 window on the accessibility bus.
# Skipped, with the reason, when Xvfb or the GTK and accessibility packages are missing.
if(TARGET tandrel-helper AND TARGET helper_testing)
  find_package(nlohmann_json REQUIRED)
  add_executable(x11_atspi_service_test X11AtspiServiceTest.cpp)
  target_link_libraries(x11_atspi_service_test
    PRIVATE helper_testing nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(x11_atspi_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>")
  add_dependencies(x11_atspi_service_test tandrel-helper)
  add_test(NAME x11_atspi_service COMMAND x11_atspi_service_test)
  set_tests_properties(x11_atspi_service PROPERTIES TIMEOUT 120 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "Xvfb cannot start;AT-SPI test skipped")
endif()
