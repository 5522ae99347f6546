# The check cycle's tests load small plug-ins and a small alerter of their own,
# built beside the test binary.
if(TARGET checker_test)
  foreach(lib check_plugin no_check_plugin check_alerter list_changing_plugin)
    add_library(${lib} MODULE ${CMAKE_CURRENT_LIST_DIR}/testdata/${lib}.cc)
    target_include_directories(${lib} PRIVATE ${CMAKE_SOURCE_DIR})
    set_target_properties(${lib} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_dependencies(checker_test ${lib})
  endforeach()
  target_link_libraries(check_alerter PRIVATE kst_common)
  target_link_libraries(list_changing_plugin PRIVATE kst_platform)
  target_compile_definitions(checker_test PRIVATE
    KST_CHECK_PLUGIN_DLL="${CMAKE_BINARY_DIR}/tests/check_plugin.dll"
    KST_NO_CHECK_PLUGIN="$<TARGET_FILE:no_check_plugin>"
    KST_LIST_CHANGING_PLUGIN="$<TARGET_FILE:list_changing_plugin>"
    KST_CHECK_ALERTER="$<TARGET_FILE:check_alerter>")
endif()
