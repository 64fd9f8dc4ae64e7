# The Win32 window's tests (included by tests/CMakeLists.txt on Windows):
# velmora.exe driven from a second program under the same Wine server, on
# an X display of their own (window_smoke.sh starts Xvfb when it is there).
if(NOT TARGET velmora)
  return()
endif()
set(_window_dir ${CMAKE_CURRENT_LIST_DIR})

add_executable(window_smoke_test ${_window_dir}/window_smoke_test.cpp)
target_link_libraries(window_smoke_test PRIVATE GTest::gtest user32 gdi32)
set_target_properties(window_smoke_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_test(NAME window_smoke
  COMMAND ${_window_dir}/window_smoke.sh $<TARGET_FILE:window_smoke_test> $<TARGET_FILE:velmora>)
set_tests_properties(window_smoke PROPERTIES LABELS "windows;gui" TIMEOUT 300 SKIP_RETURN_CODE 77)

# Developer tool behind scripts/win-screenshot.sh.
add_executable(window_shot ${_window_dir}/window_shot.cpp)
target_link_libraries(window_shot PRIVATE user32 gdi32)
set_target_properties(window_shot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# Developer tool behind scripts/win-bench.sh: the window line under Wine.
add_executable(window_bench ${_window_dir}/window_bench.cpp)
target_link_libraries(window_bench PRIVATE user32 gdi32)
set_target_properties(window_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
