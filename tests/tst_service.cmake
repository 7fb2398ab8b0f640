# tst_service runs the built VantrelVComService as a black box: it needs the program's path and the
# program built.
target_compile_definitions(tst_service PRIVATE SERVICE_PATH="$<TARGET_FILE:VantrelVComService>")
add_dependencies(tst_service VantrelVComService)
if(WIN32)
    # The Windows tests run the service under the service manager: its event log source's bound
    # (EventLogSink) is the library's, and a program Wine's manager starts gets the tests' serial
    # remedy as a DLL (wintools/wineremedy.cpp).
    target_link_libraries(tst_service PRIVATE vcomservice)
    target_compile_definitions(tst_service PRIVATE WINEREMEDY_PATH="$<TARGET_FILE:wineremedy>")
    add_dependencies(tst_service wineremedy)
    # They install the one service of the machine's manager by its name.
    set_tests_properties(tst_service PROPERTIES RESOURCE_LOCK vcom_windows_service)
endif()
