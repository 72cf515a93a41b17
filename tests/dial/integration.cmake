# tests that need the window, a port or both

piezon_add_test(test_dial_rendering GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dial_rendering.cpp
                LIBS piezon_widgets LABELS dial)
# The needle on a high-density screen, where every probe lands on a different device pixel.
add_test(NAME test_dial_rendering_scale2 COMMAND test_dial_rendering)
set_tests_properties(test_dial_rendering_scale2 PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;QT_SCALE_FACTOR=2"
  TIMEOUT 120 LABELS dial)
