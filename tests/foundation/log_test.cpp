// The log writers on real files.
#include "foundation/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/log_rotation.h"
#include "foundation/temp_dir.h"
#include "support/file_opens.h"

namespace {

// The writer every line went through before frames held them: the C
// runtime's text mode, one open each. The reference for the bytes.
void referenceLine(const std::string& path, const char* text) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    std::fprintf(file, "%s\n", text);
    std::fclose(file);
}

// Plain lines, an empty one, line feeds and CR LF inside, enough to fill the
// held buffer several times, and one longer than the buffer.
std::vector<std::string> linesOfEveryShape() {
    std::vector<std::string> lines = {"Hit: actor=npc handle=7", "", "two\nparts", "cr\r\nlf", "\n"};
    for (std::size_t i = 0; i < 400; ++i) lines.push_back("Collision: actor=npc " + std::string(i, 'x'));
    lines.push_back(std::string(40000, 'y') + "\nend");
    return lines;
}

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

TEST_F(LogTest, FrameWritesTheBytesLineByLineWrites) {
    const std::vector<std::string> lines = linesOfEveryShape();
    const std::string reference = dir_.file("reference.log");
    for (const std::string& line : lines) referenceLine(reference, line.c_str());

    for (const std::string& line : lines) kerbmark::logLine(line.c_str());
    EXPECT_EQ(log(), readFile(reference)) << "line by line";
    DeleteFileA(path_.c_str());
    {
        const kerbmark::FrameLogBatch frame;
        for (const std::string& line : lines) kerbmark::logLine(line.c_str());
    }
    EXPECT_EQ(log(), readFile(reference)) << "held for the frame";
}

// One open for a frame's lines however many; a written breadcrumb takes what
// is held with it, in order; a frame without lines opens nothing.
TEST_F(LogTest, FrameOpensTheFileOnceAtItsEnd) {
    const FileOpenCounter counter(GetModuleHandleA(nullptr));
    ASSERT_TRUE(counter.replaced);
    const int& opens = FileOpenCounter::opens;
    { const kerbmark::FrameLogBatch idle; }
    EXPECT_EQ(opens, 0);
    std::string expected;
    {
        const kerbmark::FrameLogBatch frame;
        for (int i = 0; i < 30; ++i) {
            kerbmark::logLine(("line " + std::to_string(i)).c_str());
            expected += "line " + std::to_string(i) + "\r\n";
        }
        EXPECT_EQ(log(), "") << "held until the frame ends";
    }
    EXPECT_EQ(opens, 1);
    kerbmark::diagnostics = true;
    {
        const kerbmark::FrameLogBatch frame;
        kerbmark::logLine("before");
        kerbmark::breadcrumb("atomic: lock vertices");
        kerbmark::logLine("after");
    }
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(log(), expected + "before\r\natomic: lock vertices\r\nafter\r\n");
}

// The log held as another instance holds it while it moves it aside, given
// back at the writer's `releaseAt`-th open (never for 0).
struct LogHeldAside {
    static inline HANDLE holder;
    static inline int opens, releaseAt;
    static void hold(const std::string& path, int releaseAtOpen) {
        holder = FileOpenCounter::platform(path.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0, 0);
        opens = 0, releaseAt = releaseAtOpen;
    }
    static HANDLE WINAPI opening(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE model) {
        if (++opens == releaseAt) CloseHandle(holder);
        return FileOpenCounter::platform(name, access, share, security, disposition, flags, model);
    }
};

// A line waits for a log held a moment and is written whole; a log held on
// loses its lines as before, and only the first of them waits.
TEST_F(LogTest, LineWaitsWhileTheLogIsMovedAside) {
    const FileOpenCounter counter(GetModuleHandleA(nullptr));
    ASSERT_TRUE(counter.replaced && FileOpenCounter::replace(GetModuleHandleA(nullptr), &LogHeldAside::opening));
    LogHeldAside::hold(path_, 3);
    kerbmark::logLine("waited");
    EXPECT_EQ(log(), "waited\r\n");

    LogHeldAside::hold(path_, 0);
    kerbmark::logLine("lost");
    const int waitedFor = LogHeldAside::opens;
    kerbmark::logLine("lost without waiting");
    EXPECT_TRUE(waitedFor > 3 && LogHeldAside::opens == waitedFor + 1) << waitedFor << " " << LogHeldAside::opens;
    CloseHandle(LogHeldAside::holder);
    kerbmark::logLine("written");
    EXPECT_EQ(log(), "waited\r\nwritten\r\n");
}

// The log moves aside only past its limit and only while nobody writes to it;
// what could not move says why and stays as it was.
TEST_F(LogTest, RotationMovesOnlyALogPastItsLimit) {
    using Outcome = kerbmark::LogRotation::Outcome;
    const std::string old = dir_.file("Kerbmark.old.log"), full(2048, 'x');
    const struct { std::string log; std::uint64_t limit; bool writerHolds, oldIsFolder; Outcome outcome; } cases[] = {{full, 2047, false, false, Outcome::Moved}, {full, 2048, false, false, Outcome::Kept},
                 {full, 0, false, false, Outcome::Kept},     {"", 1, false, false, Outcome::Kept},
                 {full, 1, true, false, Outcome::Failed},    {full, 1, false, true, Outcome::Failed}};
    for (const auto& c : cases) {
        DeleteFileA(path_.c_str());
        DeleteFileA(old.c_str());
        if (!c.log.empty()) writeFile(path_, c.log);
        c.oldIsFolder ? (void)CreateDirectoryA(old.c_str(), nullptr) : writeFile(old, "older");
        HANDLE writer = c.writerHolds ? CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE;
        const kerbmark::LogRotation rotation = kerbmark::rotateLog(path_.c_str(), old.c_str(), c.limit);
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_EQ(rotation.outcome, c.outcome) << c.limit;
        EXPECT_EQ(rotation.error != 0, c.outcome == Outcome::Failed) << rotation.error;
        EXPECT_EQ(log(), c.outcome == Outcome::Moved ? "" : c.log);
        EXPECT_EQ(readFile(old), c.oldIsFolder ? "" : c.outcome == Outcome::Moved ? c.log : "older");
        RemoveDirectoryA(old.c_str());
    }
}

}  // namespace
