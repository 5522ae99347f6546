kst_add_bench(ruleforge_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ruleforge_bench.cc LIBS kst_ruleforge)
