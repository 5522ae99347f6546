# A helper program the registry tests start as a second process.
if(NOT KST_FUZZ)
  add_executable(registry_worker ${CMAKE_CURRENT_SOURCE_DIR}/registry_worker_testmain.cc)
  target_link_libraries(registry_worker PRIVATE kst_platform)
  set_target_properties(registry_worker PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(platform_registry_test registry_worker)
endif()
