kst_add_bench(exporter_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/exporter_bench.cc LIBS kst_exporter)
