# The Windows suite under wine, registered as a few large tests (every start
# of wine costs seconds): the suites that run the programs as processes, the
# slow model checks, the other unit tests, and the console wait against a
# real console, which needs a terminal to give wine one.
set(processes
    "*CommandLine*:*CodecCli*:*EndToEnd*:*DemoTool*:*ExtractionProcess*:*IdentifyThroughTool*:*Smoke*")
set(models "*ModelCheck*:*Format15Model*:*Format1Encode*")
add_test(NAME windows.processes COMMAND tilvex_tests --gtest_filter=${processes} --gtest_brief=1)
add_test(NAME windows.models COMMAND tilvex_tests --gtest_filter=${models} --gtest_brief=1)
add_test(NAME windows.units
         COMMAND tilvex_tests --gtest_filter=-${processes}:${models} --gtest_brief=1)

add_executable(tilvex_console_tests windows/console_wait_test.cpp)
target_link_libraries(tilvex_console_tests PRIVATE tilvex_platform GTest::gtest GTest::gtest_main)
find_program(TILVEX_SCRIPT script)
if(TILVEX_SCRIPT)
  add_test(NAME windows.console
           COMMAND ${PROJECT_SOURCE_DIR}/cmake/in-console.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:tilvex_console_tests> --gtest_brief=1)
endif()
