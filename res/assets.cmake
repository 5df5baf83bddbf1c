# The files the program finds beside itself at run time: <program folder>/skins,
# /sounds and /icons, copied from res/ into the program's build folder.
set(OPENINVOICE_RUNTIME_DIR ${CMAKE_BINARY_DIR}/app)
file(GLOB OPENINVOICE_ASSET_FILES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/skins/*
  ${CMAKE_CURRENT_SOURCE_DIR}/sounds/*.wav
  ${CMAKE_CURRENT_SOURCE_DIR}/icons/*.png)
set(OPENINVOICE_ASSET_STAMP ${CMAKE_CURRENT_BINARY_DIR}/assets.stamp)
add_custom_command(OUTPUT ${OPENINVOICE_ASSET_STAMP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OPENINVOICE_RUNTIME_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/skins ${OPENINVOICE_RUNTIME_DIR}/skins
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/sounds ${OPENINVOICE_RUNTIME_DIR}/sounds
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/icons ${OPENINVOICE_RUNTIME_DIR}/icons
  COMMAND ${CMAKE_COMMAND} -E touch ${OPENINVOICE_ASSET_STAMP}
  DEPENDS ${OPENINVOICE_ASSET_FILES}
  COMMENT "Copying skins, sounds and icons beside the program")
add_custom_target(openinvoice_assets ALL DEPENDS ${OPENINVOICE_ASSET_STAMP})
add_dependencies(openinvoice_ui openinvoice_assets)
