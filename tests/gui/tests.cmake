# QtTest tests of the windows and controls, run offscreen with a time-out.
# One executable; each test class is its own ctest entry.
if(TARGET orvane_gui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(orvane_gui_tests
    gui/GuiTestMain.cpp
    gui/CXTabCtrlTest.cpp
    gui/ControlsTest.cpp
    gui/CIndicatorPanelTest.cpp
    gui/CBitrateGraphTest.cpp
    gui/COrvaneDlgTest.cpp
    gui/CDiscoverDlgTest.cpp
    gui/CCrashReportTest.cpp
    gui/CPlayToNetworkDlgTest.cpp
    gui/CRecFromNetworkDlgTest.cpp
    gui/DesktopTest.cpp
    gui/ProtectionShots.cpp
    gui/LinkTabsTest.cpp
    ${PROJECT_SOURCE_DIR}/resources/orvane.qrc)
  set_target_properties(orvane_gui_tests PROPERTIES AUTOMOC ON AUTORCC ON)
  target_link_libraries(orvane_gui_tests PRIVATE orvane_gui orvane_test_support Qt6::Test)
  # The tabs' generated forms, so that tests reach every control by name.
  target_include_directories(orvane_gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
    $<TARGET_PROPERTY:orvane_gui,BINARY_DIR>/orvane_gui_autogen/include)
  orvane_set_warnings(orvane_gui_tests)

  # A process that crashes on purpose, for the problem-report test.
  add_executable(orvane_crash_child gui/CrashChild.cpp)
  target_link_libraries(orvane_crash_child PRIVATE orvane_gui)
  orvane_set_warnings(orvane_crash_child)

  foreach(test CXTabCtrlTest ControlsTest CIndicatorPanelTest CBitrateGraphTest COrvaneDlgTest CDiscoverDlgTest CCrashReportTest CPlayToNetworkDlgTest CRecFromNetworkDlgTest DesktopTest LinkTabsTest)
    add_test(NAME gui.${test} COMMAND orvane_gui_tests ${test})
    set_tests_properties(gui.${test} PROPERTIES
      LABELS gui
      TIMEOUT 120
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ORVANE_CRASH_CHILD=$<TARGET_FILE:orvane_crash_child>")
  endforeach()
endif()
