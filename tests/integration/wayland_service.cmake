# The tandrel-helper program end to end on a private headless sway, KWin and GNOME Shell (with the shipped Shell
# extension and a test-only extension's virtual pointer), a GTK 3 window as the application and the test's own
# virtual pointer. Skipped, with the reason, only when the compositor cannot start.
if(TARGET tandrel-helper AND TARGET helper_testing AND TARGET platform_wayland_testing)
  find_package(nlohmann_json REQUIRED)
  set(wayland_testing ${CMAKE_SOURCE_DIR}/src/platform/wayland/internal/testing)
  add_executable(wayland_service_test WaylandServiceTest.cpp)
  target_link_libraries(wayland_service_test PRIVATE helper_testing platform_wayland_testing
                        nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(wayland_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>")
  add_dependencies(wayland_service_test tandrel-helper)
  # One run per desktop; the sanitizer builds leave out the label kwin (KWin's runs add little there).
  add_test(NAME wayland_service COMMAND wayland_service_test --gtest_filter=*/sway)
  set_tests_properties(wayland_service PROPERTIES TIMEOUT 300 LABELS "integration"
                       SKIP_REGULAR_EXPRESSION "sway cannot start")
  add_test(NAME wayland_service_kwin COMMAND wayland_service_test --gtest_filter=*/kwin)
  set_tests_properties(wayland_service_kwin PROPERTIES TIMEOUT 300 LABELS "integration;kwin"
                       SKIP_REGULAR_EXPRESSION "KWin cannot start")
  # As root GNOME's run is uid 65534 in namespaces of its own: the extension and the helper serve only their
  # own user.
  add_test(NAME gnome_service COMMAND sh ${wayland_testing}/run-as-desktop-user.sh
                                      $<TARGET_FILE:wayland_service_test> --gtest_filter=*/gnome)
  set_tests_properties(gnome_service PROPERTIES TIMEOUT 300 LABELS "integration;gnome"
                       SKIP_REGULAR_EXPRESSION "gnome-shell cannot start")
endif()
