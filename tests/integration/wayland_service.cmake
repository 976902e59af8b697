# The tandrel-helper program end to end on a private headless sway and KWin, with a GTK 3 window as the application and
# the test's own virtual pointer. Skipped, with the reason, only when the compositor cannot start.
if(TARGET tandrel-helper AND TARGET helper_testing AND TARGET platform_wayland_testing)
  find_package(nlohmann_json REQUIRED)
  add_executable(wayland_service_test WaylandServiceTest.cpp)
  target_link_libraries(wayland_service_test
    PRIVATE helper_testing platform_wayland_testing nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(wayland_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>")
  add_dependencies(wayland_service_test tandrel-helper)
  # One run per compositor; the sanitizer builds leave out the label kwin (KWin's runs add little there).
  add_test(NAME wayland_service COMMAND wayland_service_test --gtest_filter=*/sway)
  set_tests_properties(wayland_service PROPERTIES TIMEOUT 300 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "sway cannot start")
  add_test(NAME wayland_service_kwin COMMAND wayland_service_test --gtest_filter=*/kwin)
  set_tests_properties(wayland_service_kwin PROPERTIES TIMEOUT 300 LABELS "integration;kwin"
                       SKIP_REGULAR_EXPRESSION "KWin cannot start")
endif()
