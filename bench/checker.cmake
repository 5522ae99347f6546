kst_add_bench(checker_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/checker_bench.cc LIBS kst_checker)
if(TARGET checker_bench)
  # The analyzer plug-in and the alerter as the checking service loads them,
  # and a stored state of the plug-in's golden tables.
  add_dependencies(checker_bench Discovery KestraneAlerter)
  target_compile_definitions(checker_bench PRIVATE
    KST_BENCH_STATE="${CMAKE_SOURCE_DIR}/Ruleforge/testdata/exporter_cells.state"
    KST_BENCH_PLUGIN="$<TARGET_FILE:Discovery>"
    KST_BENCH_ALERTER="$<TARGET_FILE:KestraneAlerter>")
endif()
