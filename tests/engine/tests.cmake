orvane_add_test_suite(orvane_engine_tests engine
  engine/LoopbackReceiver.cpp
  engine/CFifoTest.cpp
  engine/CUdpIOCPSocketTest.cpp
  engine/CNetworkSenderTest.cpp
  engine/CFilePlayEngineTest.cpp
  engine/CNetworkSenderPacingTest.cpp
)
target_sources(orvane_engine_tests PRIVATE
  engine/DvbIpRecvBufferPoolTest.cpp
  engine/CDvbIpRecvThreadTest.cpp
  engine/CRecordThreadTest.cpp
  engine/CRecordControllerTest.cpp
  engine/CPlayControllerTest.cpp
)

# orvane-cli play --range: the status line tells the position in the file (loopback only).
add_test(NAME engine.cli_play_range
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/play-cli-range-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_play_range PROPERTIES LABELS engine TIMEOUT 60)

# orvane-cli play: nonsense options and non-TS files end with status 2, a refused start names its reason.
add_test(NAME engine.cli_play_refusals
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/play-cli-refusals-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_play_refusals PROPERTIES LABELS engine TIMEOUT 60)
