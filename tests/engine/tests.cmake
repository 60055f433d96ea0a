orvane_add_test_suite(orvane_engine_tests engine
  engine/CFifoTest.cpp
  engine/CUdpIOCPSocketTest.cpp
  engine/CNetworkSenderTest.cpp
  engine/CFilePlayEngineTest.cpp
  engine/CNetworkSenderPacingTest.cpp
  engine/CNetworkSenderKernelPacingTest.cpp
)
target_sources(orvane_engine_tests PRIVATE
  engine/DvbIpRecvBufferPoolTest.cpp
  engine/CDvbIpRecvThreadTest.cpp
  engine/CDvbIpRecvLossTest.cpp
  engine/CUdpIOCPClientTest.cpp
  engine/CRecordThreadTest.cpp
  engine/CRecordControllerTest.cpp
  engine/CPlayControllerTest.cpp
  engine/CSrtTest.cpp
  engine/Ipv6TransportTest.cpp
)

# orvane-cli play --range: the status line tells the position in the file (loopback only).
add_test(NAME engine.cli_play_range
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/play-cli-range-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_play_range PROPERTIES LABELS engine TIMEOUT 60)

# orvane-cli record: refused starts keep files; closed output, file size limit
# and a deleted directory end the run with a message (loopback only).
add_test(NAME engine.CliRecord
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/record-cli-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.CliRecord PROPERTIES LABELS engine TIMEOUT 90)

# orvane-cli play: nonsense options and non-TS files end with status 2, a refused start names its reason.
add_test(NAME engine.cli_play_refusals
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/play-cli-refusals-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_play_refusals PROPERTIES LABELS engine TIMEOUT 60)

# orvane-cli play, as root: datagrams a firewall rule drops are a send error (exit status 1).
add_test(NAME engine.cli_play_send_error
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/play-cli-send-error-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_play_send_error PROPERTIES LABELS engine TIMEOUT 60 SKIP_RETURN_CODE 77)

# SMPTE 2022-1 FEC, 2022-7 merge and impairment cores (no I/O).
target_sources(orvane_engine_tests PRIVATE
  engine/CFecEncoderTest.cpp
  engine/CFecDecoderTest.cpp
  engine/CSeamlessMergeTest.cpp
  engine/CImpairmentTest.cpp
  engine/CSendPathsTest.cpp
  engine/CRistTest.cpp
)

# The receiver with FEC and a second input, end to end on loopback.
target_sources(orvane_engine_tests PRIVATE engine/CDvbIpRecvProtectionTest.cpp)

# orvane-cli's IPv6 options: refusals that name their cause, and "no route to ADDR" (root: unshare).
add_test(NAME engine.cli_ipv6
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/engine/ipv6-cli-test.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(engine.cli_ipv6 PROPERTIES LABELS engine TIMEOUT 60)
