# The Windows suite under wine, registered as a few large tests: the unit
# tests in one, the tests that run the programs as processes in another.
set(TILVEX_PROCESS_SUITES "Cli*:CodecCli*:EndToEnd*:Smoke*:Wait*")
add_test(NAME windows.units
         COMMAND tilvex_tests --gtest_filter=-${TILVEX_PROCESS_SUITES} --gtest_brief=1)
add_test(NAME windows.processes
         COMMAND tilvex_tests --gtest_filter=${TILVEX_PROCESS_SUITES} --gtest_brief=1)
