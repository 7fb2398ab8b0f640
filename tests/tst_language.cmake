# The window starts com0com/setupc.exe beside the test binary, which other tests replace.
set_tests_properties(tst_language PROPERTIES RESOURCE_LOCK vcom_testbin_com0com)
