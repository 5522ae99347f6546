kst_add_bench(collector_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/collector_bench.cc LIBS kst_collector)
