# On a pseudo-terminal pair.
if(PIEZON_UNIX_ONLY)
  piezon_add_test(test_log_session GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_log_session.cpp
                  LIBS piezon_widgets)
endif()
