orvane_add_test_suite(orvane_engine_tests engine
  engine/CFifoTest.cpp
  engine/CLinkedListTest.cpp
)
