# Counter paths and scripts under libFuzzer (clang build only).
kst_add_fuzz(platform_perfcounters_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/perfcounters_fuzz.cc LIBS kst_platform)
