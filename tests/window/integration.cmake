# tests that need the window, a port or both

piezon_add_test(test_form1_layout GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_form1_layout.cpp
                ${CMAKE_CURRENT_LIST_DIR}/form_probe.h
                LIBS piezon_widgets LABELS window)
# The same checks on a high-density screen: the dial must be drawn for it, not blown up.
add_test(NAME test_form1_layout_scale2 COMMAND test_form1_layout)
set_tests_properties(test_form1_layout_scale2 PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;QT_SCALE_FACTOR=2"
  TIMEOUT 120 LABELS window)
