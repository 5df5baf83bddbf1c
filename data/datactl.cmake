# The data control CBtrvdcp1 (Qt): hidden control widget and its wrapper.
# framework/ and platform/ are added after data/, so their targets are looked up
# when the build is generated.
add_library(datactl STATIC ${CMAKE_CURRENT_SOURCE_DIR}/CBtrvdcp1.cpp ${CMAKE_CURRENT_SOURCE_DIR}/CBtrvdcp1.h)
set_target_properties(datactl PROPERTIES AUTOMOC ON)
target_include_directories(datactl PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(datactl PUBLIC btrieve layouts framework platform Qt6::Widgets)
