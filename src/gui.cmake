# orvane_gui: the Qt 6 Widgets front end (src/app, src/controls, src/play, src/record), and the
# orvane executable. Forms live in resources/*.ui, artwork in resources/.
find_package(Qt6 REQUIRED COMPONENTS Widgets Network Svg)

# Resources are compiled into each executable (a static library would drop them).
set(ORVANE_GUI_RESOURCES ${PROJECT_SOURCE_DIR}/resources/orvane.qrc)

add_library(orvane_gui STATIC
  app/CAboutDlg.cpp
  app/CCrashReport.cpp
  app/CDiscoverDlg.cpp
  app/CEventLogDlg.cpp
  app/COrvaneApp.cpp
  app/COrvaneDlg.cpp
  controls/CBitrateGraph.cpp
  controls/CBitrateSampler.cpp
  app/COrvaneDlg_Desktop.cpp
  controls/CButtonStyle.cpp
  controls/CIndicatorPanel.cpp
  controls/CDVBSlider.cpp
  controls/CLabel.cpp
  controls/CPicture.cpp
  controls/CTabActivateEvent.cpp
  controls/CUiServices.cpp
  controls/CXTabCtrl.cpp
  controls/CSettings.cpp
  controls/CShortcuts.cpp
  controls/CQtTreeSink.cpp
  controls/CIpAddressCtrl.cpp
  controls/CUpDownButton.cpp
  controls/CLinkFieldsCtrl.cpp
  controls/CRunState.cpp
  controls/IUiServices.h
  play/CPlayToNetworkDlg.cpp
  play/CPlayToNetworkDlg_Analysis.cpp
  play/CPlayToNetworkDlg_Desktop.cpp
  play/CPlayToNetworkDlg_Graph.cpp
  play/CPlayToNetworkDlg_Play.cpp
  play/CPlayToNetworkDlg_Protection.cpp
  play/CPlayToNetworkDlg_Link.cpp
  play/CTotTdtDlg.cpp
  record/CRecFromNetworkDlg.cpp
  record/CRecFromNetworkDlg_Desktop.cpp
  record/CRecFromNetworkDlg_Graph.cpp
  record/CRecFromNetworkDlg_Settings.cpp
  record/CRecFromNetworkDlg_Status.cpp
  record/CRecFromNetworkDlg_Link.cpp
)
set_target_properties(orvane_gui PROPERTIES
  AUTOMOC ON
  AUTOUIC ON
  AUTOUIC_SEARCH_PATHS ${PROJECT_SOURCE_DIR}/resources)
target_link_libraries(orvane_gui PUBLIC orvane_core Qt6::Widgets Qt6::Network Qt6::Svg)
target_include_directories(orvane_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
orvane_set_warnings(orvane_gui)

add_executable(orvane app/main.cpp ${ORVANE_GUI_RESOURCES})
set_target_properties(orvane PROPERTIES AUTORCC ON)
target_link_libraries(orvane PRIVATE orvane_gui)
orvane_set_warnings(orvane)
install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
