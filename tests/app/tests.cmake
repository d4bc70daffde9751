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

# Full screen on a real X display, without a window manager, with a light
# one (openbox) and with a slow one: each switch loads the picture exactly
# once.
find_program(TAMSEL_OPENBOX openbox)
find_program(TAMSEL_XPROP xprop)
if(TAMSEL_XVFB_RUN AND TAMSEL_OPENBOX AND TAMSEL_XPROP)
  qt_add_executable(tst_FullScreenWindow ${CMAKE_CURRENT_LIST_DIR}/window/tst_FullScreenWindow.cpp)
  set_target_properties(tst_FullScreenWindow PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(tst_FullScreenWindow PRIVATE tamsel_app tamsel_testsupport Qt6::Test)
  foreach(wm none openbox slow)
    add_test(NAME fullscreen_window_${wm}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/window/with-window-manager.sh ${wm} $<TARGET_FILE:tst_FullScreenWindow>)
    set_tests_properties(fullscreen_window_${wm} PROPERTIES TIMEOUT 180 LABELS window)
  endforeach()
else()
  message(WARNING "xvfb-run, openbox or xprop missing: the full-screen window tests are not run")
endif()
