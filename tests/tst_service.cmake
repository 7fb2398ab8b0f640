# tst_service runs the built VantrelVComService as a black box: it needs the program's path and the
# program built.
target_compile_definitions(tst_service PRIVATE SERVICE_PATH="$<TARGET_FILE:VantrelVComService>")
add_dependencies(tst_service VantrelVComService)
