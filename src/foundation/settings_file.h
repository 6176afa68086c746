// The INI file's bytes, read whole in one go.
#pragma once

#include <string>

namespace kerbmark {

struct SettingsFileBytes {
    enum class State {
        Read,
        Missing,     // no such file (or folder)
        InUse,       // a program holds it open for writing, or has locked part of it
        Unreadable,  // any other refusal; `error` says which
    };
    State state = State::Missing;
    std::string bytes;
    unsigned long error = 0;
};

// With `refuseWhileWritten`, a file some program holds open for writing is
// not read (InUse): it may be half saved. Without, it is read as it is, as
// the platform's profile readers do.
SettingsFileBytes readSettingsFile(const char* path, bool refuseWhileWritten);

}  // namespace kerbmark
