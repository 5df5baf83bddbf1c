# The main window's skin-selection handlers (members of COpenInvoiceDlg).
if(TARGET openinvoice_ui)
  target_sources(openinvoice_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SkinSelection.cpp)
endif()
