# One test program per folder, built from every tests/*.cpp beside the code. NO_LEAK_CHECK: in
# the sanitizer build the program runs without the leak check at its exit. The lock-check build
# (VELTRANE_THREAD_SAFETY) leaves the test programs out of its default target: it checks the
# libraries and programs, and the tests run in the other builds.
function(veltrane_add_tests name)
  cmake_parse_arguments(ARG "NO_LEAK_CHECK" "" "LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT _sources)
    message(FATAL_ERROR "${name}: no tests/*.cpp in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_executable(${name} ${_sources})
  # The tests' own code mostly waits for sockets and threads: built lightly optimised with line
  # tables, it takes half the time; the code under test keeps the build's flags.
  target_compile_options(${name} PRIVATE $<$<CONFIG:RelWithDebInfo>:-Og> $<$<CONFIG:RelWithDebInfo>:-g1>)
  if(VELTRANE_THREAD_SAFETY)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest GTest::gtest_main
    Threads::Threads)
  if(ARG_NO_LEAK_CHECK AND VELTRANE_SANITIZE)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
      ${PROJECT_SOURCE_DIR}/cmake/without-leak-check.sh)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QORVELL_REGISTRY=${CMAKE_BINARY_DIR}/never-used-registry.reg" TIMEOUT 120)
endfunction()

# The target starts the link server as a child process: Brovik and its language library are built
# first, and BROVIK_PATH names the program.
function(veltrane_uses_brovik target)
  add_dependencies(${target} Brovik ResDLLEN)
  target_compile_definitions(${target} PRIVATE BROVIK_PATH="$<TARGET_FILE:Brovik>")
endfunction()
