// Files and folders by their full names (UTF-8), through the wide-character
// Windows functions, so that a user name with any letters in it works.
#pragma once

#include <string>
#include <vector>

namespace preview {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& wide);

// The program's arguments, UTF-8, without the program itself.
std::vector<std::string> arguments();
// This program's own file.
std::string programPath();

// The full form of `path` ("C:\a\b"), separators as backslashes.
std::string fullPath(const std::string& path);
std::string folderOf(const std::string& path);  // without the last separator
std::string fileName(const std::string& path);
std::string stem(const std::string& path);       // the file name without its last extension
std::string extension(const std::string& path);  // ".obj", lower case; "" for none
std::string join(const std::string& folder, const std::string& name);

// An existing file or folder by a name in the ANSI code page that the narrow
// file functions of the module open (hostsim::ansiSayableName); empty when it
// has none.
std::string ansiName(const std::string& path);

bool isFile(const std::string& path);
bool isFolder(const std::string& path);
// Whether the file opens for reading; else false with why.
bool canRead(const std::string& path, std::string& why);

// Makes the folder and its missing parents; the folders it made, outermost first.
bool makeFolders(const std::string& path, std::vector<std::string>& made);
bool copyFile(const std::string& from, const std::string& to);
// Replaces `to` when it exists.
bool moveFile(const std::string& from, const std::string& to);
// The file's lines without their line ends; empty when it cannot be read.
std::vector<std::string> readLines(const std::string& path);
// The folder and everything in it. A junction or symbolic link, the folder
// itself or one inside, is removed as the link, never followed.
void removeTree(const std::string& path);

}  // namespace preview
