orvane_add_test_suite(orvane_common_tests common
  common/CEventTest.cpp
  common/CEventLogTest.cpp
  common/CAlignedBufferTest.cpp
  common/CPathStringTest.cpp
  common/FormatThousandsTest.cpp
  common/CUnbufferedFileTest.cpp
  common/Ipv4AddressTest.cpp
  common/CNetAddressTest.cpp
)
