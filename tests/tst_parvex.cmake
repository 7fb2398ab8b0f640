# tst_parvex runs the built Parvex as a black box: it needs the program's path and the program built.
if(TARGET Parvex)
    target_compile_definitions(tst_parvex PRIVATE PARVEX_PATH="$<TARGET_FILE:Parvex>")
    add_dependencies(tst_parvex Parvex)
endif()
