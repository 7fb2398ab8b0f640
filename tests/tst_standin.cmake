# The stand-in is tested where it is written, not a copy in the build folder.
target_compile_definitions(tst_standin PRIVATE STANDIN_PATH="${CMAKE_SOURCE_DIR}/app/com0com/setupc.exe")
