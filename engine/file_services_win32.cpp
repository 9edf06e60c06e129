#include <windows.h>

#include "engine/file_services.h"

namespace karvel {

namespace {

constexpr DWORD kLargestTransfer = 1u << 30;

HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle ToFileHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

DWORD TransferSize(size_t remaining) {
  return remaining > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(remaining);
}

bool Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION* information) {
  return GetFileInformationByHandle(handle, information) != FALSE;
}

class Win32FileServices : public FileServices {
 public:
  FileHandle OpenForReading(const char* path) override {
    return ToFileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr));
  }

  CreateResult CreateNew(const char* path, FileHandle* file) override {
    *file = ToFileHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (*file != kNoFile) return CreateResult::Created;
    DWORD error = GetLastError();
    // A hidden or system file of that name makes CREATE_NEW fail with another error.
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || Exists(path)) {
      return CreateResult::NameTaken;
    }
    return CreateResult::Failed;
  }

  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override {
    char* bytes = static_cast<char*>(buffer);
    *bytesRead = 0;
    while (*bytesRead < size) {
      DWORD part = 0;
      if (!ReadFile(Win32Handle(file), bytes + *bytesRead, TransferSize(size - *bytesRead), &part,
                    nullptr)) {
        return false;
      }
      if (part == 0) break;
      *bytesRead += part;
    }
    return true;
  }

  bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) override {
    const char* bytes = static_cast<const char*>(buffer);
    *bytesWritten = 0;
    while (*bytesWritten < size) {
      DWORD part = 0;
      if (!WriteFile(Win32Handle(file), bytes + *bytesWritten, TransferSize(size - *bytesWritten),
                     &part, nullptr) ||
          part == 0) {
        return false;
      }
      *bytesWritten += part;
    }
    return true;
  }

  bool Size(FileHandle file, uint64_t* size) override {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(Win32Handle(file), &length)) return false;
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
  }

  bool Flush(FileHandle file) override { return FlushFileBuffers(Win32Handle(file)) != FALSE; }

  bool Close(FileHandle file) override { return CloseHandle(Win32Handle(file)) != FALSE; }

  bool Remove(const char* path) override { return DeleteFileA(path) != FALSE; }

  // Copying across volumes is left to the caller: a copy that fails halfway would already have
  // overwritten the old output.
  MoveResult Move(const char* from, const char* to) override {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return MoveResult::Moved;
    }
    return GetLastError() == ERROR_NOT_SAME_DEVICE ? MoveResult::OtherVolume : MoveResult::Failed;
  }

  PathKind Inspect(const char* path) override {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return GetLastError() == ERROR_PATH_NOT_FOUND ? PathKind::FolderMissing : PathKind::Absent;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_READONLY) return PathKind::ReadOnlyFile;
    return PathKind::File;
  }

  bool IsSameFile(FileHandle file, const char* path) override {
    HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION opened, found;
    bool same = Identify(Win32Handle(file), &opened) && Identify(named, &found) &&
                opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                opened.nFileIndexHigh == found.nFileIndexHigh &&
                opened.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(named);
    return same;
  }

  bool Exists(const char* path) override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
  }
};

}  // namespace

FileServices& SystemFileServices() {
  static Win32FileServices services;
  return services;
}

}  // namespace karvel
