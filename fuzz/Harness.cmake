# The harness library, shared by the fuzzers (fuzz/) and the regression
# tests that replay saved inputs (tests/robustness/).
if(NOT TARGET fuzz_harness)
  set(harness_dir ${CMAKE_SOURCE_DIR}/fuzz/harness)
  add_library(fuzz_harness STATIC
    ${harness_dir}/FakeSerialLine.cpp
    ${harness_dir}/FuzzCheck.cpp
    ${harness_dir}/FuzzWorkDir.cpp
    ${harness_dir}/PortSettingHarness.cpp
    ${harness_dir}/StationEventsHarness.cpp
    ${harness_dir}/SvfHarness.cpp
    ${harness_dir}/UpdateFileHarness.cpp
    ${harness_dir}/UpdateWorkerHarness.cpp
    ${harness_dir}/XsvfListingHarness.cpp
    ${harness_dir}/XsvfPlayerHarness.cpp
    # The setting file's parser is plain C++; the window's library needs Qt.
    ${CMAKE_SOURCE_DIR}/app/PortSetting.cpp)
  target_include_directories(fuzz_harness PUBLIC ${harness_dir} PRIVATE ${CMAKE_SOURCE_DIR}/app)
  include(GNUInstallDirs)
  target_compile_definitions(fuzz_harness PRIVATE UPDATE_INSTALL_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}")
  target_link_libraries(fuzz_harness PUBLIC update xsvf link resources PRIVATE cli station svf2xsvf updwriter xsvfgen project_options)
endif()
