# Sources of orvane_core in src/analysis/.
list(APPEND ORVANE_CORE_SOURCES
  analysis/CDecodeStream.cpp
)
