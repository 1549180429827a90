# The frame preview with its track bar, the sample and custom tabs, and the
# conversion previewer window (included by the application's CMakeLists).
# The coalescing of preview decodes links no Qt.
add_library(vm_app_preview_requests STATIC ${CMAKE_CURRENT_LIST_DIR}/../core/PreviewRequests.cpp)
target_include_directories(vm_app_preview_requests PUBLIC ${CMAKE_CURRENT_LIST_DIR}/../core)

add_library(vm_app_preview STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ConvertPreviewBox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CustomTab.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewGroup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewerWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SampleTab.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrackBar.cpp
)
set_target_properties(vm_app_preview PROPERTIES AUTOMOC ON)
target_include_directories(vm_app_preview PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vm_app_preview PUBLIC Qt6::Widgets vm_app_core vm_app_preview_requests)
