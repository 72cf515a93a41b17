# tests that need the window, a port or both
# On a pseudo-terminal pair.
if(PIEZON_UNIX_ONLY)
  piezon_add_test(test_gauge_session GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_gauge_session.cpp
                  LIBS piezon_widgets LABELS integration gauge)
endif()
