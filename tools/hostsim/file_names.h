// File names as UTF-8 strings, opened through the wide-character Windows
// functions, so that letters outside the ANSI code page reach the file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace hostsim {

std::wstring wideName(const std::string& utf8);
std::string utf8Name(const std::wstring& wide);

// The program's arguments from its wide command line, UTF-8, the program first.
std::vector<std::string> utf8Arguments();
// The full form of the name ("C:\\a\\b").
std::wstring fullName(const std::string& path);

// _wfopen of the UTF-8 name; null when it does not open.
std::FILE* openFile(const std::string& path, const char* mode);
// The whole file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& bytes);

// The full name of an existing file or folder by which code that takes ANSI
// names (the module names its settings and log after its own file) finds it:
// the full path when the ANSI code page holds every letter of it, else its
// short form when that does; empty when neither does.
std::wstring ansiSayableName(const std::string& path);

}  // namespace hostsim
