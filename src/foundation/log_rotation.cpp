#include "foundation/log_rotation.h"

#include <windows.h>

namespace kerbmark {

namespace {

LogRotation failed(DWORD error) { return LogRotation{LogRotation::Outcome::Failed, error}; }

bool largerThan(const char* path, std::uint64_t limitBytes) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &attributes)) return false;
    const std::uint64_t size = (std::uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
    return size > limitBytes;
}

}  // namespace

LogRotation rotateLog(const char* log, const char* oldLog, std::uint64_t limitBytes) {
    if (limitBytes == 0 || !largerThan(log, limitBytes)) return LogRotation{};
    // Held without sharing writes: no line goes in between the look at its size and the move, and a
    // second instance starting at the same time cannot open it to move it as well.
    HANDLE held = CreateFileA(log, GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? LogRotation{} : failed(error);
    }
    LARGE_INTEGER size;
    LogRotation rotation;
    if (!GetFileSizeEx(held, &size))
        rotation = failed(GetLastError());
    else if (static_cast<std::uint64_t>(size.QuadPart) <= limitBytes)
        rotation = LogRotation{};  // another instance moved it meanwhile and began anew
    else if (!MoveFileExA(log, oldLog, MOVEFILE_REPLACE_EXISTING))
        rotation = failed(GetLastError());
    else
        rotation.outcome = LogRotation::Outcome::Moved;
    CloseHandle(held);
    return rotation;
}

}  // namespace kerbmark
