# Runs one test program with an empty home folder: whatever an earlier run
# left there (settings, Trash, desktop files) is removed first, so that every
# run starts from the same state.
#
#   cmake -DHOME=<folder> -DPROGRAM=<test program> -P RunInCleanHome.cmake
file(REMOVE_RECURSE "${HOME}")
file(MAKE_DIRECTORY "${HOME}")
execute_process(COMMAND "${PROGRAM}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed (${result})")
endif()
