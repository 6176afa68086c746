// Entry of every scenario executable. CTest runs one scenario per process
// (--gtest_filter=<suite>.<name>): a loaded module stays loaded and the host
// memory it rewrote stays rewritten, so scenarios never share a process.
#include <gtest/gtest.h>

#include <cstdio>

#include "crash_exit.h"

int main(int argc, char** argv) {
    hostsim::exitOnUnhandledFault();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const int ran = ::testing::UnitTest::GetInstance()->test_to_run_count();
    if (ran != 1) {
        std::fprintf(stderr, "scenario: the filter selected %d scenarios; exactly one must run per process\n", ran);
        return 1;
    }
    return result;
}
