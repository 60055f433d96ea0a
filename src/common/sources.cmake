# Sources of orvane_core in src/common/.
list(APPEND ORVANE_CORE_SOURCES
  common/CAlignedBuffer.cpp
  common/CEvent.cpp
  common/CEventLog.cpp
  common/CNetAddress.cpp
  common/CPathString.cpp
  common/CThread.cpp
  common/CTimerSlack.cpp
  common/CUniqueFd.cpp
  common/FormatThousands.cpp
  common/Ipv4Address.cpp
  common/CUnbufferedFile.cpp
)
