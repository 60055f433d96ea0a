orvane_add_test_suite(orvane_engine_tests engine
  engine/CFifoTest.cpp
  engine/CLinkedListTest.cpp
)
target_sources(orvane_engine_tests PRIVATE
  engine/DvbIpRecvBufferPoolTest.cpp
  engine/CDvbIpRecvThreadTest.cpp
  engine/CRecordThreadTest.cpp
  engine/CRecordControllerTest.cpp
  engine/TsanClockLock.cpp
)
