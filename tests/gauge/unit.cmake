# unit tests (no display, no port)
piezon_add_test(test_linearisation_table SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_linearisation_table.cpp
                LABELS unit gauge)
piezon_add_test(test_reading_chain SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_reading_chain.cpp
                LABELS unit gauge)
piezon_add_test(test_reading_pipeline SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_reading_pipeline.cpp
                LABELS unit gauge)
piezon_add_test(test_port_mapping SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_port_mapping.cpp
                LABELS unit gauge)
