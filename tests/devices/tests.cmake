orvane_add_test_suite(orvane_devices_tests devices
  devices/CDiscoverProtocolTest.cpp
  devices/CUDPDiscoverTest.cpp
)

# orvane-cli discover against two simulated devices (loopback only).
if(TARGET orvane-devsim)
  add_test(NAME devices.cli_discover_devsim
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/devices/discover-cli-test.sh
            $<TARGET_FILE:orvane-devsim> $<TARGET_FILE:orvane-cli>)
  set_tests_properties(devices.cli_discover_devsim PROPERTIES LABELS devices TIMEOUT 60)
endif()
