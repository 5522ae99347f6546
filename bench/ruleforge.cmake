kst_add_bench(ruleforge_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ruleforge_bench.cc LIBS kst_ruleforge)
if(TARGET ruleforge_bench)
  # The check is measured through the plug-in, as the checking service calls it.
  add_dependencies(ruleforge_bench Discovery)
  target_compile_definitions(ruleforge_bench PRIVATE KST_DISCOVERY_PLUGIN="$<TARGET_FILE:Discovery>")
  target_link_libraries(ruleforge_bench PRIVATE ${CMAKE_DL_LIBS})
endif()
