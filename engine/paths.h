// How a path splits into its folder and its name on the system the program
// runs on, and the free names made beside a path.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "engine/file_services.h"

namespace karvel {

#ifdef _WIN32
constexpr char kPathSeparators[] = "\\/:";  // "C:name" lies in drive C's current folder
#else
constexpr char kPathSeparators[] = "/";
#endif

// The length of the folder part of path, its last separator included; 0 for a bare name.
size_t FolderLength(const char* path);

// Tries the names beside path in turn until attempt takes one: path, "." number (1 to 99) unless
// the first, and suffix; where the system takes no name that long, the same from "karvel" in
// path's folder. *name is the name last tried.
CreateResult AtFreeName(FileServices& files, const SystemPath& path, const char* suffix,
                        SystemPath* name,
                        const std::function<CreateResult(const SystemPath&)>& attempt);

}  // namespace karvel
