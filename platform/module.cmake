# The module test loads a small library of its own, built beside the test.
if(TARGET platform_module_test)
  add_library(module_testlib MODULE ${CMAKE_CURRENT_LIST_DIR}/testdata/module_testlib.cc)
  set_target_properties(module_testlib PROPERTIES PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(platform_module_test module_testlib)
  target_compile_definitions(platform_module_test PRIVATE
    KST_MODULE_TESTLIB="$<TARGET_FILE:module_testlib>")
  # The doors' race test loads copies of it.
  if(TARGET platform_services_safety_test)
    add_dependencies(platform_services_safety_test module_testlib)
    target_compile_definitions(platform_services_safety_test PRIVATE
      KST_MODULE_TESTLIB="$<TARGET_FILE:module_testlib>")
  endif()
endif()
