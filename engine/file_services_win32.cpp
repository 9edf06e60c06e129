#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <bcrypt.h>

#include "engine/file_services.h"
#include "engine/trash.h"
#include "engine/windows_path.h"

namespace karvel {

namespace {

constexpr DWORD kLargestTransfer = 1u << 30;
// Scanners, indexers and sync clients hold a new or replaced file for moments; a move or removal
// they block is tried again, waiting longer each time, about 2 s in all.
constexpr DWORD kFirstRetryWaitMs = 10;
constexpr DWORD kLongestRetryWaitMs = 500;
constexpr DWORD kRetryBudgetMs = 2000;
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle ToFileHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

DWORD TransferSize(size_t remaining) {
  return remaining > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(remaining);
}

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

bool Identity(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->index = Join(information.nFileIndexHigh, information.nFileIndexLow);
  identity->size = Join(information.nFileSizeHigh, information.nFileSizeLow);
  identity->lastWrite =
      Join(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime);
  identity->links = information.nNumberOfLinks;
  return true;
}

// Opens path for its metadata alone (no sharing conflict with other handles); directories too.
HANDLE OpenMetadata(const wchar_t* path, DWORD access) {
  return CreateFileW(path, access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool Transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

template <typename Attempt>
bool WithRetry(Attempt attempt) {
  DWORD wait = kFirstRetryWaitMs;
  for (DWORD waited = 0;;
       waited += wait, wait = 2 * wait < kLongestRetryWaitMs ? 2 * wait : kLongestRetryWaitMs) {
    if (attempt()) return true;
    if (!Transient(GetLastError()) || waited >= kRetryBudgetMs) return false;
    Sleep(wait);
  }
}

// Gives to the owner and DACL of from, as far as this user may set them. A DACL that inherits
// keeps inheriting, from to's own folder.
void CopySecurity(HANDLE from, const wchar_t* to) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(from, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;  // a volume without security, such as FAT: nothing to keep
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  HANDLE result = OpenMetadata(to, WRITE_DAC | WRITE_OWNER);
  bool mayOwn = result != INVALID_HANDLE_VALUE;
  if (!mayOwn) result = OpenMetadata(to, WRITE_DAC);
  if (result != INVALID_HANDLE_VALUE) {
    if (!mayOwn || SetSecurityInfo(result, SE_FILE_OBJECT, which | OWNER_SECURITY_INFORMATION,
                                   owner, nullptr, dacl, nullptr) != ERROR_SUCCESS) {
      SetSecurityInfo(result, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
    }
    CloseHandle(result);
  }
  LocalFree(descriptor);
}

class Win32FileServices : public FileServices {
 public:
  bool Fits(const char* path) override {
    wchar_t wide[kWidePathSize];
    return ToWidePath(path, wide) != WidePath::TooLong;
  }

  // A pipe, console or other device is refused before anything is read from it.
  FileHandle OpenForReading(const char* path) override {
    wchar_t wide[kWidePathSize];
    if (ToWidePath(path, wide) != WidePath::Ok) return kNoFile;
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      return kNoFile;
    }
    return ToFileHandle(file);
  }

  CreateResult CreateNew(const char* path, FileHandle* file) override {
    *file = kNoFile;
    wchar_t wide[kWidePathSize];
    switch (ToWidePath(path, wide)) {
      case WidePath::Ok:
        break;
      case WidePath::TooLong:
        return CreateResult::NameTooLong;
      case WidePath::NotText:
        return CreateResult::Failed;
    }
    *file = ToFileHandle(CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (*file != kNoFile) return CreateResult::Created;
    DWORD error = GetLastError();
    // A hidden or system file of that name makes CREATE_NEW fail with another error.
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || Exists(path)) {
      return CreateResult::NameTaken;
    }
    // Windows refuses a name longer than its volume takes with either of the first two; Wine, on
    // a Unix file system, says that it found no such file.
    bool tooLong = error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME ||
                   error == ERROR_FILE_NOT_FOUND;
    return tooLong ? CreateResult::NameTooLong : CreateResult::Failed;
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

  bool WriteAt(FileHandle file, uint64_t offset, const void* buffer, size_t size) override {
    const char* bytes = static_cast<const char*>(buffer);
    size_t written = 0;
    while (written < size) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset + written);
      at.OffsetHigh = static_cast<DWORD>((offset + written) >> 32);
      DWORD part = 0;
      if (!WriteFile(Win32Handle(file), bytes + written, TransferSize(size - written), &part,
                     &at) ||
          part == 0) {
        return false;
      }
      written += part;
    }
    return true;
  }

  bool Identify(FileHandle file, FileIdentity* identity) override {
    return Identity(Win32Handle(file), identity);
  }

  bool IdentifyPath(const char* path, FileIdentity* identity) override {
    wchar_t wide[kWidePathSize];
    if (ToWidePath(path, wide) != WidePath::Ok) return false;
    HANDLE file = OpenMetadata(wide, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool identified = Identity(file, identity);
    CloseHandle(file);
    return identified;
  }

  bool Flush(FileHandle file) override { return FlushFileBuffers(Win32Handle(file)) != FALSE; }

  bool Close(FileHandle file) override { return CloseHandle(Win32Handle(file)) != FALSE; }

  bool CopyProtection(const char* from, const char* to, bool attributes) override {
    wchar_t wideFrom[kWidePathSize], wideTo[kWidePathSize];
    if (ToWidePath(from, wideFrom) != WidePath::Ok || ToWidePath(to, wideTo) != WidePath::Ok) {
      return false;
    }
    HANDLE source = OpenMetadata(wideFrom, READ_CONTROL);
    if (source == INVALID_HANDLE_VALUE) return false;
    CopySecurity(source, wideTo);
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(source, &information) != FALSE;
    CloseHandle(source);
    if (!known) return false;
    DWORD kept = information.dwFileAttributes & kKeptAttributes;
    if (!attributes || kept == 0) return true;
    DWORD own = GetFileAttributesW(wideTo);
    return own != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(wideTo, own | kept) != FALSE;
  }

  bool Remove(const char* path) override {
    wchar_t wide[kWidePathSize];
    if (ToWidePath(path, wide) != WidePath::Ok) return false;
    return WithRetry([&] { return DeleteFileW(wide) != FALSE; });
  }

  // The temporary file lies beside the output, so the move never needs to copy.
  bool Move(const char* from, const char* to) override {
    wchar_t wideFrom[kWidePathSize], wideTo[kWidePathSize];
    if (ToWidePath(from, wideFrom) != WidePath::Ok || ToWidePath(to, wideTo) != WidePath::Ok) {
      return false;
    }
    return WithRetry([&] {
      return MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
             FALSE;
    });
  }

  PathKind Inspect(const char* path) override {
    wchar_t wide[kWidePathSize];
    if (ToWidePath(path, wide) != WidePath::Ok) return PathKind::FolderMissing;
    DWORD attributes = GetFileAttributesW(wide);
    DWORD error = GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return PathKind::Directory;
    }
    // Devices such as NUL or COM1 may have no attributes at all.
    HANDLE named = OpenMetadata(wide, 0);
    if (named != INVALID_HANDLE_VALUE) {
      DWORD type = GetFileType(named);
      CloseHandle(named);
      if (type != FILE_TYPE_DISK) return PathKind::NotAFile;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return error == ERROR_PATH_NOT_FOUND ? PathKind::FolderMissing : PathKind::Absent;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) return PathKind::ReadOnlyFile;
    return PathKind::File;
  }

  bool Exists(const char* path) override {
    wchar_t wide[kWidePathSize];
    if (ToWidePath(path, wide) != WidePath::Ok) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
  }

  bool MoveToTrash(const char* path) override { return karvel::MoveToTrash(path); }

  bool FillRandom(void* buffer, size_t size) override {
    return size <= ULONG_MAX && BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                                               static_cast<ULONG>(size),
                                                               BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  }
};

}  // namespace

FileServices& SystemFileServices() {
  static Win32FileServices services;
  return services;
}

}  // namespace karvel
