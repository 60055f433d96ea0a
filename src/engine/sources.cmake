# Sources of orvane_core in src/engine/.
list(APPEND ORVANE_CORE_SOURCES
  engine/CFifo.cpp
  engine/CLinkedList.cpp
  engine/CUdpIOCPSocket.cpp
  engine/CUringPacer.cpp
  engine/CTxTimeProbe.cpp
  engine/CNetworkSender.cpp
  engine/CFilePlayEngine.cpp
  engine/DvbIpRecvBufferPool.cpp
  engine/CUdpIOCPClient.cpp
  engine/CDvbIpRecvThread.cpp
  engine/CRecordThread.cpp
  engine/CRecordController.cpp
  engine/CPlayController.cpp
  engine/FecPacket.cpp
  engine/CFecEncoder.cpp
  engine/CFecDecoder.cpp
  engine/CSeamlessMerge.cpp
  engine/CImpairment.cpp
  engine/CSendPaths.cpp
  engine/CSrtSettings.cpp
  engine/CSrtLink.cpp
  engine/CSrtOutput.cpp
  engine/CSrtInput.cpp
)
