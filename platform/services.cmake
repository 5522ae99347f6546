# The service tests start a small service program of their own.
if(TARGET platform_services_test)
  add_executable(kst_service_testprog ${CMAKE_CURRENT_LIST_DIR}/testdata/service_testprog.cc)
  target_link_libraries(kst_service_testprog PRIVATE kst_platform)
  set_target_properties(kst_service_testprog PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(platform_services_test kst_service_testprog)
  target_compile_definitions(platform_services_test PRIVATE
    KST_SERVICE_TESTPROG="$<TARGET_FILE:kst_service_testprog>")
endif()

# The init system's unit that starts every automatic service.
include(GNUInstallDirs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kestrane-services.service.in
  ${CMAKE_BINARY_DIR}/kestrane-services.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kestrane-services.service
  DESTINATION lib/systemd/system)
