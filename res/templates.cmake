# Window templates and the menu, compiled into the window library.
target_sources(openinvoice_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control.h
  ${CMAKE_CURRENT_LIST_DIR}/main_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/small_dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resource.h
  ${CMAKE_CURRENT_LIST_DIR}/templates.h)
target_link_libraries(openinvoice_ui PUBLIC layouts)

# The help page lies beside the program, named like it: <program>.html.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/app/openinvoice.html
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_LIST_DIR}/help/openinvoice.html
          ${CMAKE_BINARY_DIR}/app/openinvoice.html
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/help/openinvoice.html)
add_custom_target(openinvoice_help DEPENDS ${CMAKE_BINARY_DIR}/app/openinvoice.html)
add_dependencies(openinvoice_ui openinvoice_help)
