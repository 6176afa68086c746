#include "files.h"

#include <windows.h>

#include <cctype>
#include <cstdio>

#include "file_names.h"

namespace preview {

std::wstring wide(const std::string& utf8) { return hostsim::wideName(utf8); }
std::string utf8(const std::wstring& wide) { return hostsim::utf8Name(wide); }

namespace {

std::size_t lastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

std::vector<std::string> arguments() {
    std::vector<std::string> result = hostsim::utf8Arguments();
    if (!result.empty()) result.erase(result.begin());
    return result;
}

std::string programPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) return utf8(path.substr(0, length));
        path.resize(path.size() * 2);
    }
}

std::string fullPath(const std::string& path) {
    const std::wstring name = wide(path);
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
    full.resize(written);
    return utf8(full);
}

std::string folderOf(const std::string& path) {
    const std::size_t at = lastSeparator(path);
    return at == std::string::npos ? "." : path.substr(0, at);
}

std::string fileName(const std::string& path) {
    const std::size_t at = lastSeparator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string stem(const std::string& path) {
    const std::string name = fileName(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string extension(const std::string& path) {
    const std::string name = fileName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string result = name.substr(dot);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

std::string ansiName(const std::string& path) {
    const std::wstring name = hostsim::ansiSayableName(path);
    if (name.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, name.data(), static_cast<int>(name.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

bool isFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool canRead(const std::string& path, std::string& why) {
    if (isFolder(path)) {
        why = "a folder, not a file";
        return false;
    }
    const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "no such file" : "cannot open the file";
        return false;
    }
    CloseHandle(file);
    return true;
}

bool makeFolders(const std::string& path, std::vector<std::string>& made) {
    if (isFolder(path)) return true;
    const std::size_t at = lastSeparator(path);
    if (at != std::string::npos && at > 0 && path[at - 1] != ':' && !makeFolders(path.substr(0, at), made))
        return false;
    if (!CreateDirectoryW(wide(path).c_str(), nullptr)) return GetLastError() == ERROR_ALREADY_EXISTS;
    made.push_back(path);
    return true;
}

bool copyFile(const std::string& from, const std::string& to) {
    return CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE) != 0;
}

bool moveFile(const std::string& from, const std::string& to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::FILE* file = _wfopen(wide(path).c_str(), L"rb");
    if (!file) return lines;
    std::string line;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    std::fclose(file);
    return lines;
}

namespace {

bool isLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

void removeTree(const std::string& path) {
    // A junction or symbolic link goes as the link: what it points to is not ours.
    if (!isLink(GetFileAttributesW(wide(path).c_str()))) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(wide(join(path, "*")).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::string inside = join(path, utf8(name));
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW(wide(inside).c_str());  // a file link: the link
                else if (isLink(found.dwFileAttributes))
                    RemoveDirectoryW(wide(inside).c_str());
                else
                    removeTree(inside);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    RemoveDirectoryW(wide(path).c_str());
}

}  // namespace preview
