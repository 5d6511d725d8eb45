# The Qt 6 desktop window: the window library, the `tarn` program, its icon and desktop
# entry, the install rules, the window tests and the helper that renders the windows to PNGs.
# Included from the top-level CMakeLists.txt, so paths are relative to this file's folder.

find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets Charts)
include(GNUInstallDirs)

set(TARN_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TARN_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)

# Everything of the window except main(), so the tests and the renderer drive the same code.
add_library(tarn_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Tarn_Unit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Tarn_Unit.h
  ${CMAKE_CURRENT_LIST_DIR}/ResponseWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResponseWindow.h
)
target_link_libraries(tarn_window PUBLIC tarn_core tarn_analysis Qt6::Widgets Qt6::Charts)
set_target_properties(tarn_window PROPERTIES AUTOMOC ON)

set(tarn_icon_files)
foreach(size IN LISTS TARN_ICON_SIZES)
  list(APPEND tarn_icon_files ${TARN_RESOURCE_DIR}/tarn-${size}.png)
endforeach()
# The icons are compiled into the program, so the window has its icon wherever it runs from.
qt_add_resources(tarn_window tarn_icons
  PREFIX /icons
  BASE ${TARN_RESOURCE_DIR}
  FILES ${tarn_icon_files}
)

add_executable(tarn WIN32 ${CMAKE_CURRENT_LIST_DIR}/Tarn.cpp)
target_link_libraries(tarn PRIVATE tarn_window)
set_target_properties(tarn PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Renders the main and the response window to PNGs for the README (scripts/render.sh).
add_executable(tarn-render EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/../scripts/render.cpp)
target_link_libraries(tarn-render PRIVATE tarn_window)
set_target_properties(tarn-render PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

install(TARGETS tarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TARN_RESOURCE_DIR}/tarn.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARN_RESOURCE_DIR}/tarn.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS TARN_ICON_SIZES)
  install(FILES ${TARN_RESOURCE_DIR}/tarn-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tarn.png)
endforeach()

if(TARN_BUILD_TESTS)
  # This file is included before the top-level enable_testing(); the window tests need it now.
  enable_testing()
  find_package(Qt6 REQUIRED COMPONENTS Test)
  find_package(GTest REQUIRED)
  include(GoogleTest)

  add_executable(test_window ${CMAKE_CURRENT_LIST_DIR}/../tests/test_window.cpp)
  target_link_libraries(test_window PRIVATE tarn_window Qt6::Test GTest::gtest)
  set_target_properties(test_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # No display in CI: every window test runs on Qt's offscreen platform.
  gtest_discover_tests(test_window
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 600)
endif()
