# The fake setupc.exe lives in com0com/ beside the test binaries, a folder every test there could
# want: tests that use it take this lock, so ctest -j never runs two of them at once.
set_tests_properties(tst_setupc PROPERTIES RESOURCE_LOCK vcom_testbin_com0com)
