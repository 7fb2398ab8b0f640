# The window starts com0com/setupc.exe beside the test binary: the stand-in, copied there.
target_compile_definitions(tst_e2e PRIVATE STANDIN_PATH="${CMAKE_SOURCE_DIR}/app/com0com/setupc.exe")
set_tests_properties(tst_e2e PROPERTIES RESOURCE_LOCK vcom_testbin_com0com)
