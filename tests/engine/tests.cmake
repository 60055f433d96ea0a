orvane_add_test_suite(orvane_engine_tests engine
  engine/CFifoTest.cpp
  engine/CLinkedListTest.cpp
  engine/CFilePlayEngineTest.cpp
  engine/CNetworkSenderPacingTest.cpp
)
