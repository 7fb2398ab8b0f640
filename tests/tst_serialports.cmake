# The virtual pairs are made with the stand-in where it is written.
target_compile_definitions(tst_serialports PRIVATE STANDIN_PATH="${CMAKE_SOURCE_DIR}/app/com0com/setupc.exe")
