# The demo's scenario without a toolkit, linked by the demo driver of each window (Qt, Win32).
if(NOT TARGET vantari_demo_scenario)
  add_library(vantari_demo_scenario STATIC ${CMAKE_CURRENT_LIST_DIR}/DemoScenario.cpp)
  target_include_directories(vantari_demo_scenario PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(vantari_demo_scenario PUBLIC workflow)
endif()
