# cmake -DPROGRAM=<executable> -P LinksNoWidgets.cmake
# Fails when the executable loads Qt Widgets: the command-line tools and the
# fuzz targets run on the widget-free libraries alone.
if(NOT PROGRAM OR NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "No program to check: '${PROGRAM}'")
endif()
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE libs ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed (${result}): ${errors}")
endif()
# A program that shows no Qt at all was not read correctly.
if(NOT libs MATCHES "libQt6Core")
  message(FATAL_ERROR "ldd ${PROGRAM} lists no Qt Core:\n${libs}")
endif()
if(libs MATCHES "libQt6Widgets")
  message(FATAL_ERROR "${PROGRAM} loads Qt Widgets:\n${libs}")
endif()
message(STATUS "${PROGRAM} loads no Qt Widgets")
