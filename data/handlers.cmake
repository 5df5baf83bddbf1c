# The main window's company-folder and security handlers, and their dialogs.
target_sources(openinvoice_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CompanyFolder.cpp ${CMAKE_CURRENT_LIST_DIR}/CompanyFolder.h
  ${CMAKE_CURRENT_LIST_DIR}/Security.cpp ${CMAKE_CURRENT_LIST_DIR}/Security.h)
