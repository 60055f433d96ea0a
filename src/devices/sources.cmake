# Sources of orvane_core in src/devices/.
list(APPEND ORVANE_CORE_SOURCES
  devices/CDiscoverProtocol.cpp
  devices/CUDPDiscover.cpp
  devices/CUDPReset.cpp
)
