// The log writers on real files.
#include "foundation/log.h"

#include <gtest/gtest.h>

#include "foundation/temp_dir.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("Kerbmark.log");
        std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", path_.c_str());
        kerbmark::diagnostics = false;
    }
    void TearDown() override {
        kerbmark::logPath[0] = '\0';
        kerbmark::diagnostics = false;
        kerbmark::setPhase("startup");
    }
    std::string log() const { return readFile(path_); }

    TempDir dir_;
    std::string path_;
};

TEST_F(LogTest, LinesAreCreatedThenAppendedWithCrLf) {
    kerbmark::logLine("first");
    EXPECT_EQ(log(), "first\r\n");
    kerbmark::logLine("second line");
    EXPECT_EQ(log(), "first\r\nsecond line\r\n");
}

TEST_F(LogTest, ExistingFileIsAppendedTo) {
    writeFile(path_, "earlier run\r\n");
    kerbmark::logLine("banner");
    EXPECT_EQ(log(), "earlier run\r\nbanner\r\n");
}

TEST_F(LogTest, BreadcrumbsMovePhaseAndReachTheLogOnlyWithDiagnostics) {
    kerbmark::breadcrumb("atomic: lock vertices");
    EXPECT_STREQ(kerbmark::phase, "atomic: lock vertices");
    EXPECT_EQ(log(), "");

    kerbmark::diagnostics = true;
    kerbmark::logLine("plain");
    kerbmark::breadcrumb("atomic: displace vertices");
    kerbmark::logLine("after");
    EXPECT_EQ(log(), "plain\r\natomic: displace vertices\r\nafter\r\n");
    EXPECT_STREQ(kerbmark::phase, "atomic: displace vertices");
}

TEST_F(LogTest, ForcedBreadcrumbIsWrittenWithoutDiagnostics) {
    kerbmark::breadcrumb("EXCEPTION forced", true);
    EXPECT_EQ(log(), "EXCEPTION forced\r\n");
}

TEST_F(LogTest, FormattedLinesAreCutAtTheirBuffer) {
    kerbmark::logFormatted<8>("value=%d", 123456);
    EXPECT_EQ(log(), "value=1\r\n");
}

TEST_F(LogTest, MissingFolderLosesLinesSilently) {
    const std::string missing = dir_.file("no-such-folder\\Kerbmark.log");
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", missing.c_str());
    kerbmark::diagnostics = true;
    kerbmark::logLine("lost");
    kerbmark::breadcrumb("hit: enumerate atomics");
    EXPECT_STREQ(kerbmark::phase, "hit: enumerate atomics");
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogTest, LogCanBeReadWhileLinesAreWritten) {
    kerbmark::logLine("one");
    HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    kerbmark::breadcrumb("two", true);
    kerbmark::logLine("three");
    CloseHandle(reader);
    EXPECT_EQ(log(), "one\r\ntwo\r\nthree\r\n");
}

}  // namespace
