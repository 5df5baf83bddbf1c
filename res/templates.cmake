# Window templates and the menu, compiled into the window library.
target_sources(openinvoice_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/small_dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resource.h
  ${CMAKE_CURRENT_LIST_DIR}/templates.h)
if(TARGET layouts)
  target_link_libraries(openinvoice_ui PUBLIC layouts)
endif()
