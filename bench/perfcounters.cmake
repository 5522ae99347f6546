kst_add_bench(perfcounters_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/perfcounters_bench.cc LIBS kst_collector)
