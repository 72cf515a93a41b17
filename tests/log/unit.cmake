# unit tests (no display, no port)
piezon_add_test(test_log_record SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_log_record.cpp
                LABELS unit log)
piezon_add_test(test_measurement_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_measurement_log.cpp
                LABELS unit log)
