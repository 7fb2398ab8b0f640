# The same cases through the byte loops alone, as a processor without SSSE3 takes them.
add_executable(tst_telnet_bytes tst_telnet.cpp ${PROJECT_SOURCE_DIR}/app/telnetfilter.cpp)
target_compile_definitions(tst_telnet_bytes PRIVATE TELNET_BYTE_LOOPS_ONLY)
target_include_directories(tst_telnet_bytes PRIVATE ${PROJECT_SOURCE_DIR}/app)
target_link_libraries(tst_telnet_bytes PRIVATE Qt5::Core Qt5::Test)
vcom_register_test(tst_telnet_bytes)
