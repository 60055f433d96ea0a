# End-to-end test through the real windows: two Orvane processes on loopback, one
# playing a generated stream from its Play tab (loop, every adaptation), one
# recording it from its Record tab into a ring of files; the recording is then
# checked packet by packet against the source (docs/e2e.md).
if(TARGET orvane_gui AND TARGET orvane-cli)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(orvane-e2e-driver
    e2e/E2eDriverMain.cpp
    e2e/CE2eDriver.cpp
    ${PROJECT_SOURCE_DIR}/resources/orvane.qrc)
  set_target_properties(orvane-e2e-driver PROPERTIES AUTOMOC ON AUTORCC ON)
  target_link_libraries(orvane-e2e-driver PRIVATE orvane_gui Qt6::Test)
  target_include_directories(orvane-e2e-driver PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  orvane_set_warnings(orvane-e2e-driver)

  # RTP: 1 MiB per file, a ring of 7 that turns over (the oldest files are overwritten).
  # UDP: 1 second per file, a ring of 30 that does not turn over, so the recording
  # must hold the play from its very first packet; after the first pass the position
  # slider is dragged to the middle. (Pause and resume: gui.CPlayToNetworkDlgTest and
  # the engine's pause tests.)
  set(E2E_ARGS_rtp --mode rtp)
  set(E2E_ARGS_udp --mode udp --seconds 1 --ring 30 --passes 3 --no-wrap --jump-permille 500)
  foreach(mode rtp udp)
    add_test(NAME e2e.${mode}
      COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_e2e.py
              --cli $<TARGET_FILE:orvane-cli> --driver $<TARGET_FILE:orvane-e2e-driver> ${E2E_ARGS_${mode}})
    # Alone on the machine: the play is paced in real time.
    set_tests_properties(e2e.${mode} PROPERTIES LABELS e2e TIMEOUT 240 RUN_SERIAL TRUE)
  endforeach()
endif()

# orvane-cli monitoring: the JSON lines of monitor --json and /metrics of monitor
# and play (names, labels, escaping), a --metrics port in use (loopback only).
if(TARGET orvane-cli)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME e2e.monitoring_cli
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/monitoring_cli.py $<TARGET_FILE:orvane-cli>)
  set_tests_properties(e2e.monitoring_cli PROPERTIES LABELS e2e TIMEOUT 90)
endif()
