#include "foundation/settings_file.h"

#include <windows.h>

namespace kerbmark {

namespace {

// Far more than any settings file holds.
constexpr LONGLONG kLargestFile = 1 << 20;

SettingsFileBytes refused(DWORD error) {
    SettingsFileBytes file;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        file.state = SettingsFileBytes::State::Missing;
    else if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        file.state = SettingsFileBytes::State::InUse;
    else
        file.state = SettingsFileBytes::State::Unreadable;
    file.error = error;
    return file;
}

// ERROR_SUCCESS, or why the file could not be read whole.
DWORD readAll(HANDLE handle, std::string& bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) return GetLastError();
    if (size.QuadPart > kLargestFile) return ERROR_FILE_TOO_LARGE;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return GetLastError();
    bytes.resize(read);
    return ERROR_SUCCESS;
}

}  // namespace

SettingsFileBytes readSettingsFile(const char* path, bool refuseWhileWritten) {
    // Sharing delete lets an editor that saves by renaming a new file over this one do so meanwhile.
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_DELETE | (refuseWhileWritten ? 0 : FILE_SHARE_WRITE);
    HANDLE handle = CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return refused(GetLastError());
    SettingsFileBytes file;
    const DWORD error = readAll(handle, file.bytes);
    CloseHandle(handle);
    if (error != ERROR_SUCCESS) return refused(error);
    file.state = SettingsFileBytes::State::Read;
    return file;
}

}  // namespace kerbmark
