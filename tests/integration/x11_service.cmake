# The tandrel-helper program end to end on a private Xvfb, with real X clients (xterm, Tk, xclip) driven by
# xdotool. Skipped, with the reason, when Xvfb cannot start.
if(TARGET tandrel-helper AND TARGET helper_testing)
  find_package(nlohmann_json REQUIRED)
  add_executable(x11_service_test X11ServiceTest.cpp)
  target_link_libraries(x11_service_test
    PRIVATE helper_testing nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(x11_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>")
  add_dependencies(x11_service_test tandrel-helper)
  add_test(NAME x11_service COMMAND x11_service_test)
  set_tests_properties(x11_service PROPERTIES TIMEOUT 300 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "Xvfb cannot start")
endif()
