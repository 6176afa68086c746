#include <windows.h>

#include <gtest/gtest.h>

#include "host/bindings.h"
#include "host/executable_check.h"
#include "host/support/log_capture.h"

namespace {

TEST(ExecutableBase, ExecutableElsewhereThanTheHostBaseIsRefusedFirst) {
    ASSERT_NE(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)), host::kImageBase);
    testhost::LogCapture log;
    EXPECT_FALSE(kerbmark::validateExecutable());
    EXPECT_EQ(log.bytes(), "Unsupported executable base; disabled.\r\n");
}

}  // namespace
