// The module loaded by a program that is not based at 0x400000: refused on
// the base alone, before anything at the host's fixed addresses is looked at.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "module_loader.h"
#include "scenario_support.h"

namespace {

using namespace scenario;

TEST(Startup, RefusesForeignBase) {
    ASSERT_NE(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)), 0x400000u);

    Folder folder;
    const std::string module = folder.installModule("[General]\r\nEnabled=1\r\n");
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    const LogText log = readLog(folder.file("Kerbmark.log"));
    EXPECT_EQ(log.lines, (std::vector<std::string>{kBanner, kUnsupportedBase}));
    EXPECT_TRUE(log.crlf);
}

}  // namespace
