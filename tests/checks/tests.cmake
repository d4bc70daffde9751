# Checks of the library layering.

# The command-line gallery tool links no widget library.
add_test(NAME gallery_tool_links_no_widgets
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:tamsel-gallery>
                 -P ${CMAKE_CURRENT_LIST_DIR}/LinksNoWidgets.cmake)

# No include in src/ runs up the floors or sideways between siblings.
add_test(NAME include_floors
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/IncludeFloors.cmake)

# The gallery tool's manual page describes the options its --help lists.
add_test(NAME gallery_manpage_options
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:tamsel-gallery>
                 -DMANPAGE=${CMAKE_SOURCE_DIR}/resources/man/tamsel-gallery.1
                 -P ${CMAKE_CURRENT_LIST_DIR}/ManPageOptions.cmake)
