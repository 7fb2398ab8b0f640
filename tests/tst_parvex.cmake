# tst_parvex runs the built Parvex as a black box: it needs the program's path and the program built.
if(TARGET Parvex)
    target_compile_definitions(tst_parvex PRIVATE PARVEX_PATH="$<TARGET_FILE:Parvex>")
    add_dependencies(tst_parvex Parvex)
endif()
# On Windows devcon.exe is a real program: the fake, which takes its answer from its own file.
if(WIN32)
    target_compile_definitions(tst_parvex PRIVATE FAKE_DEVCON_PATH="$<TARGET_FILE:fakedevcon>")
    add_dependencies(tst_parvex fakedevcon)
endif()
