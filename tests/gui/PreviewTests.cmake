# The frame preview, the sample and custom tabs and the conversion previewer
# window (included by tests/gui/CMakeLists.txt).

# The coalescing of preview decodes, without Qt.
add_executable(preview_requests_tests ${CMAKE_CURRENT_LIST_DIR}/../unit/PreviewRequestsTest.cpp)
target_link_libraries(preview_requests_tests PRIVATE vm_app_preview_requests GTest::gtest GTest::gtest_main)
gtest_discover_tests(preview_requests_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

# The widgets, offscreen: each test function is a CTest test of its own, so
# that they run side by side and fail one by one.
add_executable(preview_widgets_tests ${CMAKE_CURRENT_LIST_DIR}/PreviewWidgetsTest.cpp)
set_target_properties(preview_widgets_tests PROPERTIES AUTOMOC ON)
target_link_libraries(preview_widgets_tests PRIVATE vm_app_preview vm_component Qt6::Test)
target_include_directories(preview_widgets_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(preview_widgets_tests PRIVATE VIDMORPH_LIBAV_DIR="${VIDMORPH_LIBAV_DIR}")
add_dependencies(preview_widgets_tests myutil)
vidmorph_use_media_fixtures(preview_widgets_tests)
foreach(name
    stillPictureHidesTheSliderAndShowsItsPicture
    filesWithoutPositionsOrPictures
    shortFileKeepsTheSmallestStep
    markingTheClipEnablesTheCheckBoxOnlyForARange
    pictureMatchesThePositionAndADragIsCoalesced
    lastPositionShowsTheLastPicture
    previewerWindowFollowsTheConversionAndStaysClosed
    sampleAnalysisWritesExtFile
    sampleThatCannotServeLeavesExtFileAsItWas
    customFieldsTakeDigitsOnly)
  add_test(NAME preview_widgets.${name} COMMAND preview_widgets_tests ${name})
  set_tests_properties(preview_widgets.${name} PROPERTIES LABELS gui FIXTURES_REQUIRED media_fixtures
    ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endforeach()

# A profile made from a sample video, through vidmorph-cli's preset mode.
add_executable(sample_profile_tests ${CMAKE_CURRENT_LIST_DIR}/../unit/SampleProfileTest.cpp)
target_include_directories(sample_profile_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(sample_profile_tests PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(sample_profile_tests PRIVATE VIDMORPH_CLI="$<TARGET_FILE:vidmorph-cli>")
vidmorph_use_media_fixtures(sample_profile_tests)
add_dependencies(sample_profile_tests vidmorph-cli)
gtest_discover_tests(sample_profile_tests PROPERTIES LABELS media FIXTURES_REQUIRED media_fixtures
  DISCOVERY_TIMEOUT 60)

# The same widgets inside the main window.
add_executable(preview_window_tests ${CMAKE_CURRENT_LIST_DIR}/PreviewWindowTest.cpp)
set_target_properties(preview_window_tests PROPERTIES AUTOMOC ON)
target_include_directories(preview_window_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(preview_window_tests PRIVATE vm_app_widgets Qt6::Test)
target_compile_definitions(preview_window_tests PRIVATE VIDMORPH_LIBAV_DIR="${VIDMORPH_LIBAV_DIR}"
  VIDMORPH_PROGRAM_DIR="${VIDMORPH_PROGRAM_DIR}")
vidmorph_use_media_fixtures(preview_window_tests)
add_dependencies(preview_window_tests profiles myutil)
foreach(name
    previewFollowsTheSourceList
    clipMarkedInTheWindowConvertsExactly
    sampleTabRunUsesTheAnalysedSample
    customTabChecksInOrderAndMkvGivesH264)
  add_test(NAME preview_window.${name} COMMAND preview_window_tests ${name})
  set_tests_properties(preview_window.${name} PROPERTIES LABELS gui FIXTURES_REQUIRED media_fixtures
    ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 300)
endforeach()
