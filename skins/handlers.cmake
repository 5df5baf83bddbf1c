# The main window's skin-selection handlers (members of COpenInvoiceDlg).
target_sources(openinvoice_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SkinSelection.cpp)
