# unit tests (no display, no port)
piezon_add_test(test_end_signals SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_end_signals.cpp
                LIBS piezon_widgets LABELS unit window)
