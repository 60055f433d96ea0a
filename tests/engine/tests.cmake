orvane_add_test_suite(orvane_engine_tests engine
  engine/LoopbackReceiver.cpp
  engine/CFifoTest.cpp
  engine/CLinkedListTest.cpp
  engine/CUdpIOCPSocketTest.cpp
  engine/CNetworkSenderTest.cpp
  engine/CFilePlayEngineTest.cpp
  engine/CNetworkSenderPacingTest.cpp
  engine/StreamAdaptationWireTest.cpp
)
target_sources(orvane_engine_tests PRIVATE
  engine/DvbIpRecvBufferPoolTest.cpp
  engine/CDvbIpRecvThreadTest.cpp
  engine/CRecordThreadTest.cpp
  engine/CRecordControllerTest.cpp
)
