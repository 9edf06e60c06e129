// Files beside karvel.exe: the help page and the portable settings.
#pragma once

#include <string>

namespace karvel {

// The full path of name in the folder of karvel.exe; empty when it cannot be had.
std::wstring ProgramFolderFile(const wchar_t* name);

// True when path names an existing file (not a folder).
bool IsFile(const wchar_t* path);

}  // namespace karvel
