# Sources of orvane_core in src/engine/.
list(APPEND ORVANE_CORE_SOURCES
  engine/CFifo.cpp
  engine/CLinkedList.cpp
  engine/CUdpIOCPSocket.cpp
  engine/CNetworkSender.cpp
  engine/CFilePlayEngine.cpp
)
