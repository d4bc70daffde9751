# The real program in a virtual X display: the title before and after Page
# Down.
find_program(TAMSEL_XVFB_RUN xvfb-run)
find_program(TAMSEL_XDOTOOL xdotool)
if(TAMSEL_XVFB_RUN AND TAMSEL_XDOTOOL)
  add_test(NAME smoke_window
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/smoke-window.sh $<TARGET_FILE:tamsel-photo-editor>
                   ${CMAKE_SOURCE_DIR}/samples 01-landscape-6000x4000.jpg 02-progressive-1600x1067.jpg)
  set_tests_properties(smoke_window PROPERTIES TIMEOUT 180 LABELS window)
else()
  message(WARNING "xvfb-run or xdotool missing: the window smoke test is not run")
endif()
