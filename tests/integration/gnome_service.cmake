# The tandrel-helper program end to end on a private headless GNOME Shell with the shipped Shell extension, a
# GTK 3 window as the application and a test-only extension's virtual pointer. As root the test runs as uid
# 65534 in namespaces of its own (the extension and the helper serve only their own user). Skipped, with the
# reason, only when gnome-shell cannot start.
if(TARGET tandrel-helper AND TARGET helper_testing AND TARGET platform_wayland_testing)
  find_package(nlohmann_json REQUIRED)
  set(gnome_testing ${CMAKE_SOURCE_DIR}/src/platform/wayland/internal/testing)
  add_executable(gnome_service_test GnomeServiceTest.cpp ${gnome_testing}/GnomeShellServer.cpp)
  target_link_libraries(gnome_service_test
    PRIVATE helper_testing platform_wayland_testing nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
  target_compile_definitions(gnome_service_test PRIVATE TANDREL_HELPER_PATH="$<TARGET_FILE:tandrel-helper>"
                                                        TANDREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GNOME_TEST_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  target_link_libraries(gnome_service_test PRIVATE PkgConfig::GNOME_TEST_SYSTEMD)
  add_dependencies(gnome_service_test tandrel-helper)
  add_test(NAME gnome_service COMMAND sh ${gnome_testing}/run-as-desktop-user.sh $<TARGET_FILE:gnome_service_test>)
  set_tests_properties(gnome_service PROPERTIES TIMEOUT 300 LABELS "integration;gnome"
                       SKIP_REGULAR_EXPRESSION "gnome-shell cannot start")
endif()
