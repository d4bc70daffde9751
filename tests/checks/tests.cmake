# Checks of the library layering.

# The command-line gallery tool links no widget library.
add_test(NAME gallery_tool_links_no_widgets
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:tamsel-gallery>
                 -P ${CMAKE_CURRENT_LIST_DIR}/LinksNoWidgets.cmake)
