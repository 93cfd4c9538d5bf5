# Artwork and the about dialog: a static library the program and its tests link.
find_package(Qt6 REQUIRED COMPONENTS Widgets Svg)

# rcc's output registers the pictures from a static constructor, which a linker drops when it sits in an
# archive nobody references. Compiled as an object library and handed to every executable that links
# qmx_app_about, it always runs, so no Q_INIT_RESOURCE is needed anywhere.
add_library(qmx_app_icons OBJECT ${CMAKE_CURRENT_LIST_DIR}/resources/app.qrc)
set_target_properties(qmx_app_icons PROPERTIES AUTORCC ON)
target_link_libraries(qmx_app_icons PRIVATE Qt6::Core)

qt_add_library(qmx_app_about STATIC ${CMAKE_CURRENT_LIST_DIR}/about_unit.cpp ${CMAKE_CURRENT_LIST_DIR}/about_unit.h)
set_target_properties(qmx_app_about PROPERTIES AUTOMOC ON)
target_include_directories(qmx_app_about PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qmx_app_about PUBLIC Qt6::Widgets Qt6::Svg)
target_sources(qmx_app_about INTERFACE $<TARGET_OBJECTS:qmx_app_icons>)
qmx_strict(qmx_app_about)
