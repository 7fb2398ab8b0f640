# Both variants build a main window, which starts com0com/setupc.exe beside the test binary.
set_tests_properties(tst_stress PROPERTIES RESOURCE_LOCK vcom_testbin_com0com TIMEOUT 300)
# The long variant: ten times the start/stop cycles, eight times the bulk and a ten-minute soak.
# Left out of the everyday run with ctest -LE long. Qt Test ends any test function after five
# minutes unless told otherwise, and the soak alone takes ten.
add_test(NAME tst_stress_long COMMAND tst_stress)
set_tests_properties(tst_stress_long PROPERTIES
    ENVIRONMENT "${VCOM_TEST_ENV};VCOM_SOAK_SECONDS=600;QTEST_FUNCTION_TIMEOUT=840000"
    LABELS long
    TIMEOUT 900
    RESOURCE_LOCK vcom_testbin_com0com)
