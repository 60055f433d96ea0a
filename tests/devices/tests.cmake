orvane_add_test_suite(orvane_devices_tests devices
  devices/CDiscoverProtocolTest.cpp
  devices/CUDPDiscoverTest.cpp
)
