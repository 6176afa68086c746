#include <windows.h>

#include <gtest/gtest.h>

#include "host/bindings.h"
#include "host/executable_check.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"

namespace {

constexpr const char* kWrongExecutable = "Unsupported executable: requires SA 1.0 US Hoodlum/Compact; disabled.\r\n";
constexpr const char* kSitesChanged = "Hook sites changed by another mod; disabled.\r\n";

class ExecutableCheck : public ::testing::Test {
protected:
    void SetUp() override {
        testhost::makeHostMemoryWritable();
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)), host::kImageBase);
        for (std::uint32_t site : sites) host::at<std::uint8_t>(site) = 0xE8;
    }
    void TearDown() override { host::at<std::uint32_t>(host::kIdentityWord) = 0; }

    // Makes the page holding `address` unreadable for the scope of a test step.
    struct Unreadable {
        explicit Unreadable(std::uint32_t address) : page(reinterpret_cast<void*>(address & ~0xFFFu)) {
            VirtualProtect(page, 1, PAGE_NOACCESS, &old);
        }
        ~Unreadable() { VirtualProtect(page, 1, old, &old); }
        void* page;
        DWORD old = 0;
    };

    const std::uint32_t sites[3] = {host::kFrameCallSite, host::kResetCallSiteA, host::kResetCallSiteB};
    testhost::LogCapture log;
};

TEST_F(ExecutableCheck, AcceptsBothSupportedBuildsSilently) {
    host::at<std::uint32_t>(host::kIdentityWord) = host::kIdentityHoodlum;
    EXPECT_TRUE(kerbmark::validateExecutable());
    host::at<std::uint32_t>(host::kIdentityWord) = host::kIdentityCompact;
    EXPECT_TRUE(kerbmark::validateExecutable());
    EXPECT_FALSE(log.exists());
}

TEST_F(ExecutableCheck, OtherIdentityWordWritesOneLine) {
    host::at<std::uint32_t>(host::kIdentityWord) = host::kIdentityHoodlum + 1;
    EXPECT_FALSE(kerbmark::validateExecutable());
    EXPECT_EQ(log.bytes(), kWrongExecutable);
}

TEST_F(ExecutableCheck, UnreadableIdentityWordIsAnUnsupportedExecutable) {
    host::at<std::uint32_t>(host::kIdentityWord) = host::kIdentityHoodlum;
    {
        Unreadable guard(host::kIdentityWord);
        EXPECT_FALSE(kerbmark::validateExecutable());
    }
    EXPECT_EQ(log.bytes(), kWrongExecutable);
}

TEST_F(ExecutableCheck, HookSitesAllNearCalls) {
    EXPECT_TRUE(kerbmark::hookSitesIntact());
    EXPECT_FALSE(log.exists());
}

TEST_F(ExecutableCheck, AnyOneChangedSiteFailsWithOneLine) {
    for (std::uint32_t changed : sites) {
        log.clear();
        for (std::uint32_t site : sites) host::at<std::uint8_t>(site) = site == changed ? 0xE9 : 0xE8;
        EXPECT_FALSE(kerbmark::hookSitesIntact()) << std::hex << changed;
        EXPECT_EQ(log.bytes(), kSitesChanged) << std::hex << changed;
        // The check only reads: the sites hold what they held.
        EXPECT_EQ(host::at<std::uint8_t>(changed), 0xE9);
    }
}

TEST_F(ExecutableCheck, UnreadableSiteFailsWithoutFault) {
    {
        Unreadable guard(host::kResetCallSiteB);
        EXPECT_FALSE(kerbmark::hookSitesIntact());
    }
    EXPECT_EQ(log.bytes(), kSitesChanged);
}

}  // namespace
