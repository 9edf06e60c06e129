#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <bcrypt.h>

#include <cstring>
#include <string>

#include "engine/file_services.h"
#include "engine/paths.h"
#include "engine/trash.h"
#include "engine/windows_text.h"

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
// What the owner of a temporary file needs of it: its data, its name and its protection.
constexpr DWORD kOwnerRights =
    FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER;

HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The cause of the last failure a call on this thread reported: other calls, a successful
// CloseHandle among them, may change GetLastError before anyone asks.
thread_local int lastError = 0;

// Keeps GetLastError as the cause of the failure the caller reports; false, for it to return.
bool Failed() {
  lastError = static_cast<int>(GetLastError());
  return false;
}

// A disk file takes no bytes at all only when its disk has no room for them.
bool NoRoom() {
  lastError = ERROR_DISK_FULL;
  return false;
}

FileHandle ToFileHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

DWORD TransferSize(size_t remaining) {
  return remaining > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(remaining);
}

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

bool Identity(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(handle, &information) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  identity->volume = information.dwVolumeSerialNumber;
  identity->index = Join(information.nFileIndexHigh, information.nFileIndexLow);
  identity->size = Join(information.nFileSizeHigh, information.nFileSizeLow);
  identity->lastWrite =
      Join(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime);
  identity->lastChange = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
  identity->links = information.nNumberOfLinks;
  return true;
}

// Opens path for its metadata alone (no sharing conflict with other handles); directories too.
HANDLE OpenMetadata(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The path of the file open as file, where every link on the way to it led; false when the system
// cannot say.
bool PathOf(HANDLE file, SystemPath* path) {
  DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  if (size == 0) return false;
  std::wstring resolved(size, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, &resolved[0], size, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= size) return false;
  resolved.resize(length);
  path->text = Narrow(resolved);
  path->units = resolved;
  return !path->text.empty();
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

// A security descriptor that lets the user who runs the program, and nobody else, at the file.
// Wine turns it into the mode 0750: it gives the user's group bits for any entry of the user's.
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    bool known = GetTokenInformation(token, TokenUser, user_, sizeof user_, &size) != FALSE;
    CloseHandle(token);
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
    valid_ =
        known && InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION) &&
        AddAccessAllowedAce(reinterpret_cast<PACL>(acl_), ACL_REVISION, FILE_ALL_ACCESS, sid) &&
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_), FALSE) &&
        SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }

  // Null, and so the folder's defaults, when the user cannot be told.
  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  alignas(8) unsigned char user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  alignas(8) unsigned char acl_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
  SECURITY_DESCRIPTOR descriptor_;
  SECURITY_ATTRIBUTES attributes_;
  bool valid_ = false;
};

// True when some entry of dacl came from its folder.
bool HasInheritedEntry(PACL dacl) {
  if (dacl == nullptr) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* entry = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&entry)) && (entry->AceFlags & INHERITED_ACE)) {
      return true;
    }
  }
  return false;
}

// Makes the entries dacl inherited its own, as they stand.
void KeepInheritedEntries(PACL dacl) {
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* entry = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&entry))) entry->AceFlags &= ~INHERITED_ACE;
  }
}

// Gives to the owner and DACL of from, as far as this user may set them. In place of a file whose
// DACL inherited entries, to keeps inheriting, from the same folder. Otherwise it gets from's
// entries alone, the inherited ones made its own: a new output's folder may pass on more rights
// than its target has (Wine's folders pass on read access for everyone), and a DACL made of its own
// entries stays so.
void CopySecurity(HANDLE from, HANDLE to, bool replacing) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(from, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;  // a volume without security, such as FAT: nothing to keep
  }
  SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  if (!replacing || (control & SE_DACL_PROTECTED) || !HasInheritedEntry(dacl)) {
    KeepInheritedEntries(dacl);
    // Through the kernel call: Wine's SetSecurityInfo adds the folder's entries even then.
    SECURITY_DESCRIPTOR own;
    if (InitializeSecurityDescriptor(&own, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&own, TRUE, dacl, FALSE) &&
        SetSecurityDescriptorControl(&own, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              &own);
    }
  } else {
    SetSecurityInfo(to, SE_FILE_OBJECT,
                    DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
}

// Marks an open file to go when its last handle closes, or keeps it again.
bool SetDeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(remove)};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

// FileRenameInfoEx, which MinGW's headers name only when built for Windows 10 1709 and later.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames an open file onto path, replacing a file there, through the handle itself. With
// whileOpen, the file there is replaced even while handles shared for deletion hold it: Windows
// 10 1607 and later on NTFS; older systems, other file systems and Wine refuse the request.
bool RenameByHandle(HANDLE file, const std::wstring& path, bool whileOpen) {
  size_t size = sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t);
  std::string storage(size, '\0');
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(&storage[0]);
  if (whileOpen) {
    rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  } else {
    rename->ReplaceIfExists = TRUE;
  }
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return SetFileInformationByHandle(file, whileOpen ? kFileRenameInfoEx : FileRenameInfo, rename,
                                    static_cast<DWORD>(size)) != FALSE;
}

// The delete disposition is off only for the moment of the attempt.
bool PutInPlace(HANDLE file, const std::wstring& path, bool whileOpen) {
  if (!SetDeleteOnClose(file, false)) return false;
  if (RenameByHandle(file, path, whileOpen)) return true;
  DWORD error = GetLastError();
  SetDeleteOnClose(file, true);
  SetLastError(error);
  return false;
}

class Win32FileServices : public FileServices {
 public:
  PathForm Prepare(const char* text, SystemPath* path) override {
    path->text = text;
    switch (ToWidePath(text, &path->units)) {
      case WidePath::Ok:
        return PathForm::Ok;
      case WidePath::TooLong:
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return PathForm::TooLong;
      case WidePath::NotText:
        break;
    }
    lastError = ERROR_INVALID_NAME;  // no text the system takes
    return PathForm::NotText;
  }

  // Split where the text was, as every path prepared here is full already. A name grown past the
  // classic limit takes the \\?\ form.
  bool Beside(const SystemPath& path, const char* tail, bool replaceName,
              SystemPath* name) override {
    std::wstring units = path.units;
    name->text = path.text;
    if (replaceName) {
      units.resize(units.find_last_of(L"\\/:") + 1);  // npos + 1 is 0
      name->text.resize(FolderLength(path.text.c_str()));
    }
    for (const char* c = tail; *c != '\0'; ++c) units += static_cast<wchar_t>(*c);
    name->text += tail;
    return WholeForm(units, false, &name->units) == WidePath::Ok;
  }

  // A pipe, console or other device is refused before anything is read from it.
  FileHandle OpenForReading(const SystemPath& path) override {
    const std::wstring& wide = path.units;
    // Shared for deletion so that the result can replace it while it is still held; a rename or
    // removal meanwhile is seen by the check before the move.
    HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Failed();
      // Windows refuses to open a folder as a file for want of access, which would mislead.
      DWORD attributes = GetFileAttributesW(wide.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        lastError = kErrorIsFolder;
      }
      return kNoFile;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      lastError = kErrorNotAFile;
      return kNoFile;
    }
    return ToFileHandle(file);
  }

  // Only a link at the end of path would be replaced instead of the file it leads to. Opening
  // followed every link; the handle knows where it ended.
  bool FinalPath(FileHandle file, const SystemPath& path, SystemPath* final) override {
    DWORD attributes = GetFileAttributesW(path.units.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *final = path;
      return true;
    }
    return PathOf(Win32Handle(file), final);
  }

  // Opening what path names follows its links; the handle knows where they led. A link that
  // leads nowhere cannot be opened.
  bool ResolveLinks(const SystemPath& path, SystemPath* final) override {
    DWORD attributes = GetFileAttributesW(path.units.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *final = path;
      return true;
    }
    HANDLE file = OpenMetadata(path.units, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool named = PathOf(file, final);
    CloseHandle(file);
    return named;
  }

  // Windows names every file: CreateNew's delete disposition does what an unnamed file would.
  CreateResult CreateUnnamed(const SystemPath&, FileHandle* file) override {
    *file = kNoFile;
    return CreateResult::Failed;
  }

  CreateResult Name(FileHandle, const SystemPath&) override { return CreateResult::Failed; }

  // The delete disposition, set at once, makes the system remove the file with its last handle,
  // however the process ends, until Move clears it.
  CreateResult CreateNew(const SystemPath& path, FileHandle* file) override {
    *file = kNoFile;
    const std::wstring& wide = path.units;
    OwnerOnly security;
    HANDLE created =
        CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                    0, security.Attributes(), CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      if (!SetDeleteOnClose(created, true)) {
        Failed();
        CloseHandle(created);
        DeleteFileW(wide.c_str());
        return CreateResult::Failed;
      }
      *file = ToFileHandle(created);
      return CreateResult::Created;
    }
    Failed();
    DWORD error = static_cast<DWORD>(lastError);
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

  // Named from random bytes, so that no other process can take or guess the name first.
  FileHandle CreateScratch() override {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
      Failed();
      return kNoFile;
    }
    unsigned char random[8];
    if (!FillRandom(random, sizeof random)) return kNoFile;
    std::wstring path(folder, length);
    path += L"karvel-";
    for (unsigned char byte : random) {
      path += L"0123456789abcdef"[byte >> 4];
      path += L"0123456789abcdef"[byte & 0xF];
    }
    path += L".tmp";
    OwnerOnly security;
    HANDLE created =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, security.Attributes(),
                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (created == INVALID_HANDLE_VALUE) Failed();
    return ToFileHandle(created);
  }

  FileHandle StandardInput() override { return ToFileHandle(GetStdHandle(STD_INPUT_HANDLE)); }

  FileHandle StandardOutput() override { return ToFileHandle(GetStdHandle(STD_OUTPUT_HANDLE)); }

  bool Tell(FileHandle file, uint64_t* offset) override {
    if (GetFileType(Win32Handle(file)) != FILE_TYPE_DISK) {
      lastError = kErrorNotAFile;
      return false;
    }
    LARGE_INTEGER at = {};
    LARGE_INTEGER none = {};
    if (!SetFilePointerEx(Win32Handle(file), none, &at, FILE_CURRENT)) return Failed();
    *offset = static_cast<uint64_t>(at.QuadPart);
    return true;
  }

  bool Seek(FileHandle file, uint64_t offset) override {
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(Win32Handle(file), at, nullptr, FILE_BEGIN) || Failed();
  }

  // A pipe whose writers are gone ends with an error of its own.
  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override {
    char* bytes = static_cast<char*>(buffer);
    *bytesRead = 0;
    while (*bytesRead < size) {
      DWORD part = 0;
      if (!ReadFile(Win32Handle(file), bytes + *bytesRead, TransferSize(size - *bytesRead), &part,
                    nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) break;
        return Failed();
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
                     &part, nullptr)) {
        return Failed();
      }
      if (part == 0) return NoRoom();
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
                     &at)) {
        return Failed();
      }
      if (part == 0) return NoRoom();
      written += part;
    }
    return true;
  }

  bool Identify(FileHandle file, FileIdentity* identity) override {
    return Identity(Win32Handle(file), identity) || Failed();
  }

  bool IdentifyPath(const SystemPath& path, FileIdentity* identity) override {
    HANDLE file = OpenMetadata(path.units, 0);
    if (file == INVALID_HANDLE_VALUE) return Failed();
    bool identified = Identity(file, identity) || Failed();
    CloseHandle(file);
    return identified;
  }

  bool Flush(FileHandle file) override {
    return FlushFileBuffers(Win32Handle(file)) != FALSE || Failed();
  }

  bool Close(FileHandle file) override {
    return CloseHandle(Win32Handle(file)) != FALSE || Failed();
  }

  bool CopyProtection(const SystemPath& from, FileHandle to, bool replacing) override {
    HANDLE source = OpenMetadata(from.units, READ_CONTROL);
    if (source == INVALID_HANDLE_VALUE) return Failed();
    CopySecurity(source, Win32Handle(to), replacing);
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(source, &information) != FALSE || Failed();
    CloseHandle(source);
    if (!known) return false;
    DWORD kept = information.dwFileAttributes & kKeptAttributes;
    if (!replacing || kept == 0) return true;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(Win32Handle(to), FileBasicInfo, &basic, sizeof basic)) {
      return Failed();
    }
    basic.FileAttributes |= kept;
    return SetFileInformationByHandle(Win32Handle(to), FileBasicInfo, &basic, sizeof basic) !=
               FALSE ||
           Failed();
  }

  // Never copies: a move to another volume fails instead.
  CreateResult Rename(const SystemPath& from, const SystemPath& to) override {
    if (WithRetry([&] { return MoveFileExW(from.units.c_str(), to.units.c_str(), 0) != FALSE; })) {
      return CreateResult::Created;
    }
    Failed();
    DWORD error = static_cast<DWORD>(lastError);
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateResult::NameTaken;
    return error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME
               ? CreateResult::NameTooLong
               : CreateResult::Failed;
  }

  bool Remove(const SystemPath& path) override {
    return WithRetry([&] { return DeleteFileW(path.units.c_str()) != FALSE; }) || Failed();
  }

  // The temporary file lies beside the output, so the move never needs to copy. It is renamed
  // through its own handle, which keeps it unshared to the end. The first attempt is made while
  // the replaced file is still held, shared for reading and deletion only, so that no other
  // program can have opened it for writing between the check and the move; where the system
  // cannot replace a held file, it is let go and the move is tried as a plain rename.
  bool Move(FileHandle file, const SystemPath&, const SystemPath& to, const MoveCheck& check,
            FileHandle held) override {
    const std::wstring& wideTo = to.units;
    HANDLE handle = Win32Handle(file);
    if (held != kNoFile) {
      bool moved = check() && PutInPlace(handle, wideTo, true);
      Close(held);
      if (moved) return true;
    }
    bool checked = true;
    bool moved = WithRetry([&] {
      if (!check()) {
        checked = false;
        SetLastError(ERROR_SUCCESS);  // not worth another attempt
        return false;
      }
      return PutInPlace(handle, wideTo, false);
    });
    if (moved || !checked) return moved;  // a check that stops the move is no failure
    return Failed();
  }

  PathKind Inspect(const SystemPath& path) override {
    const std::wstring& wide = path.units;
    DWORD attributes = GetFileAttributesW(wide.c_str());
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

  bool Exists(const SystemPath& path) override {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.units.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
  }

  bool MoveToTrash(const SystemPath& path) override { return karvel::MoveToTrash(path); }

  bool FillRandom(void* buffer, size_t size) override {
    if (size <= ULONG_MAX && BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                                            static_cast<ULONG>(size),
                                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return true;
    }
    lastError = ERROR_GEN_FAILURE;  // the status BCrypt gives is no error number of the system's
    return false;
  }

  int LastError() override { return lastError; }
};

}  // namespace

void ErrorText(int error, char* text, size_t size) {
  if (size == 0) return;
  std::string said;
  if (error == kErrorIsFolder) {
    said = "Is a folder";
  } else if (error == kErrorNotAFile) {
    said = "Not a regular file";
  } else if (error != 0) {
    wchar_t message[kErrorTextSize];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, message,
                                  static_cast<DWORD>(kErrorTextSize), nullptr);
    said = length != 0 ? Narrow(std::wstring(message, length))
                       : "Error " + std::to_string(static_cast<DWORD>(error));
  }
  while (!said.empty() && std::strchr(" .\r\n", said.back()) != nullptr) said.pop_back();
  size_t kept = said.size() < size ? said.size() : size - 1;
  // Never a part of a character: a UTF-8 continuation byte does not begin one.
  while (kept > 0 && kept < said.size() &&
         (static_cast<unsigned char>(said[kept]) & 0xC0) == 0x80) {
    --kept;
  }
  std::memcpy(text, said.data(), kept);
  text[kept] = '\0';
}

FileServices& SystemFileServices() {
  static Win32FileServices services;
  return services;
}

}  // namespace karvel
