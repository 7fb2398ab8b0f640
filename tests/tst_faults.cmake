# The window starts com0com/setupc.exe beside the test binary, a folder other tests fill: take
# their lock. A fault test waits out timers and killed processes, so give it room.
set_tests_properties(tst_faults PROPERTIES RESOURCE_LOCK vcom_testbin_com0com TIMEOUT 300)
