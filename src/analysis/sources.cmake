# Sources of orvane_core in src/analysis/.
list(APPEND ORVANE_CORE_SOURCES
  analysis/CAnalysisTreeBuilder.cpp
  analysis/CBitrateHistory.cpp
  analysis/CDecodeStream.cpp
  analysis/CFileAnalysis.cpp
  analysis/CMdiMeter.cpp
  analysis/CPacketSync.cpp
  analysis/CPcrRate.cpp
  analysis/CPsiTables.cpp
  analysis/CSectionAssembler.cpp
  analysis/CStreamAdapter.cpp
  analysis/CTr101290.cpp
  analysis/CTsAnalyzer.cpp
  analysis/CTsGenerator.cpp
  analysis/StreamTypeName.cpp
)
