# Test driver: cmake -DGENIMAGES=<exe> -DWORK=<scratch dir> [-DCOMMITTED=<dir>] -P check_output.cmake
#
# Without COMMITTED: generates twice and requires identical files plus a clean --check.
# With COMMITTED: generates once and requires COMMITTED to hold exactly the same files.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

function(compare_dirs a b)
  file(GLOB names RELATIVE "${a}" "${a}/*")
  file(GLOB other RELATIVE "${b}" "${b}/*")
  if(NOT names STREQUAL other)
    message(FATAL_ERROR "different file lists:\n ${a}: ${names}\n ${b}: ${other}")
  endif()
  foreach(name IN LISTS names)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${a}/${name}" "${b}/${name}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${name} differs between ${a} and ${b}")
    endif()
  endforeach()
endfunction()

if(DEFINED COMMITTED)
  file(REMOVE_RECURSE "${WORK}/fresh")
  run("${GENIMAGES}" "${WORK}/fresh")
  compare_dirs("${WORK}/fresh" "${COMMITTED}")
else()
  file(REMOVE_RECURSE "${WORK}/a" "${WORK}/b")
  run("${GENIMAGES}" "${WORK}/a")
  run("${GENIMAGES}" "${WORK}/b")
  compare_dirs("${WORK}/a" "${WORK}/b")
  run("${GENIMAGES}" --check "${WORK}/a")
endif()
