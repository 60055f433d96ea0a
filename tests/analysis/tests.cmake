orvane_add_test_suite(orvane_analysis_tests analysis
  analysis/CBitrateHistoryTest.cpp
  analysis/CDecodeStreamTest.cpp
  analysis/CDecodeStreamThreadTest.cpp
  analysis/CFileAnalysisTest.cpp
  analysis/CMdiMeterTest.cpp
  analysis/CPcrRateTest.cpp
  analysis/CPsiTablesTest.cpp
  analysis/CStreamAdapterTest.cpp
  analysis/CTr101290Test.cpp
)

# orvane-cli analyze: key report lines and failure cases.
add_test(NAME orvane_cli_analyze_golden
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/analysis/cli/analyze_golden.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(orvane_cli_analyze_golden PROPERTIES LABELS analysis TIMEOUT 120)
