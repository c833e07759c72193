# GoogleTest: Debian's build natively, compiled from its sources for Windows.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()

# One test program per area, registered as one test.
function(tarnix_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tarnix_core tarnix_testing GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# End-to-end tests drive the built module through its exports only: they link the reference
# host but none of the plug-in's code.
function(tarnix_module_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tarnix_testing GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TARNIX_MODULE_PATH="$<TARGET_FILE:TarnixAVX2>")
  add_dependencies(${name} TarnixAVX2)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
