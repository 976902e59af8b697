# The tandrel-helper program end to end on a private Xvfb, with real X clients (xterm, Tk, xclip, and a GTK 3
# window on the accessibility bus) driven by xdotool. One binary, two CTest entries so that each area reports
# its own skip: without Xvfb, or without the GTK and accessibility packages.
if(TARGET tandrel-helper AND TARGET helper_testing)
  find_package(nlohmann_json REQUIRED)
  add_executable(x11_service_test X11ServiceTest.cpp)
  target_link_libraries(x11_service_test
    PRIVATE helper_testing nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(x11_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>")
  add_dependencies(x11_service_test tandrel-helper)
  add_test(NAME x11_service COMMAND x11_service_test --gtest_filter=X11ServiceTest.*)
  set_tests_properties(x11_service PROPERTIES TIMEOUT 300 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "Xvfb cannot start")
  add_test(NAME x11_atspi_service COMMAND x11_service_test --gtest_filter=X11AtspiServiceTest.*)
  set_tests_properties(x11_atspi_service PROPERTIES TIMEOUT 120 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "Xvfb cannot start;AT-SPI test skipped")
endif()
