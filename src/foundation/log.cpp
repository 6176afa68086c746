#include "foundation/log.h"

#include <windows.h>

#include "foundation/held_lines.h"

namespace kerbmark {

char logPath[kPathSize] = "";
const char* volatile phase = "startup";

std::vector<DivertedLine>* divertedLines = nullptr;

namespace {

// Open FrameLogBatch scopes; the game thread's alone.
int openBatches = 0;

// Another instance of the module moving the log aside at its start holds it for a moment: a line
// waits that long rather than being lost. After a wait in vain (a program keeps the log locked) the
// next lines do not wait until one is written again.
constexpr int kLockedLogRetries = 25;
bool logStaysLocked = false;

HANDLE openLog() {
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool locked = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
        if (!locked || logStaysLocked || attempt == kLockedLogRetries) {
            logStaysLocked = locked;
            return file;
        }
        Sleep(1);
    }
}

void append(HANDLE file, const char* bytes, std::size_t size) {
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
}

// Takes the held lines and appends them; they are lost with a file that could not be opened.
void appendHeld(HANDLE file) {
    const held::Taken taken = held::take();
    if (file != INVALID_HANDLE_VALUE && taken.size != 0) append(file, taken.bytes, taken.size);
    held::release();
}

// A line that is not held: the same bytes as held::hold makes of it.
void appendTextLine(HANDLE file, const char* text) {
    const char* piece = text;
    for (const char* c = text;; ++c) {
        if (*c != '\n' && *c != '\0') continue;
        append(file, piece, static_cast<std::size_t>(c - piece));
        append(file, "\r\n", 2);
        if (*c == '\0') return;
        piece = c + 1;
    }
}

// One open-append-close: the held lines, then `line` unless it is null;
// with `flush`, on the disk before the file is closed.
void writeOut(const char* line, bool flush = false) {
    HANDLE file = openLog();
    appendHeld(file);
    if (file == INVALID_HANDLE_VALUE) return;
    if (line) appendTextLine(file, line);
    if (flush) FlushFileBuffers(file);
    CloseHandle(file);
}

}  // namespace

void logLine(const char* text) {
    if (divertedLines) {
        divertedLines->push_back(DivertedLine{text, false});
        return;
    }
    held::rewind();
    if (!held::hold(text)) {
        // No room left: what is held goes first, then this line.
        writeOut(text);
        return;
    }
    if (openBatches == 0) writeOut(nullptr);
}

void logHitLine(const char* text) {
    if (divertedLines) {
        divertedLines->push_back(DivertedLine{text, true});
        return;
    }
    logLine(text);
}

FrameLogBatch::FrameLogBatch() { ++openBatches; }

FrameLogBatch::~FrameLogBatch() {
    if (--openBatches != 0) return;
    if (held::waiting() != 0) writeOut(nullptr);
    held::rewind();
}

void breadcrumb(const char* text, bool force) {
    phase = text;
    if (!force && !diagnostics) return;
    // Held lines came first, so they go first; a crash report loses none.
    writeOut(text, true);
}

}  // namespace kerbmark
