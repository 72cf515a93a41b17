# On a pseudo-terminal pair.
if(PIEZON_UNIX_ONLY)
  piezon_add_test(test_function_keys GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_function_keys.cpp
                  LIBS piezon_widgets)
endif()
