# unit tests (no display, no port)
piezon_add_test(test_needle_geometry SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_needle_geometry.cpp
                LABELS unit dial)
