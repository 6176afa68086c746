// What the loaded module's log writing costs: every open of its log file
// until the matching close, timed in the thread's CPU time through the
// module's own imports (the C runtime's fopen / fclose and kernel32's
// CreateFileA / CloseHandle), and the lines the file grew by.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

struct LogWrites {
    double seconds = 0.0;  // from each open of the log to its close
    int opens = 0;
    int lines = 0;  // lines the log grew by
};

// Diverts the module's four imports; false when it imports none of them.
bool watchLogWrites(HMODULE module, const std::string& logPath);

// The writes since the previous call (or since watchLogWrites).
LogWrites takeLogWrites();

}  // namespace bench
