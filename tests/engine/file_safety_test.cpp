// What the transforms keep safe around the file they replace: a write to the
// target while the result is finished, the target's other names, the
// permissions and marks of the replaced file, targets and outputs that are no
// files, and, on Windows, an output another program holds for a moment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/job_operation.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/scene.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <aclapi.h>
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "kept safe";
const Bytes kLateBytes = {'l', 'a', 't', 'e'};

// True when bytes could be appended to path, as another program saving to it would.
bool Append(const std::string& path, const Bytes& bytes) {
  std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// While the result is flushed the target is still open: Windows keeps writers out, POSIX
// cannot, so there the change is found before the move and nothing is replaced.
TEST(FileSafety, WriterDuringTheFlushIsKeptOutOrItsWriteIsKept) {
  for (const NamedOperation& op : kTransforms) {
    for (bool inPlace : {true, false}) {
      SCOPED_TRACE(std::string(op.name) + (inPlace ? " in place" : " to an old output"));
      Scene scene(op.operation, kPassphrase);
      auto expected = Snapshot(scene.folder.Path());
      bool appended = false;
      FaultyFileServices files({{Call::Flush, 1, Fault::Interject,
                                 [&] { appended = Append(scene.folder["target"], kLateBytes); }}});
      JobStatus status = RunJob(op.operation, kPassphrase, scene.folder["target"],
                                inPlace ? "" : scene.folder["old"], files);
      EXPECT_TRUE(files.AllStruck());
#ifdef _WIN32
      EXPECT_FALSE(appended);
      EXPECT_EQ(status, JobStatus::Ok);
      expected[inPlace ? "target" : "old"] = scene.Expected(op.operation);
#else
      EXPECT_TRUE(appended);
      EXPECT_EQ(status, JobStatus::TargetChanged);
      expected["target"] = scene.TargetBytes(op.operation);
      expected["target"].insert(expected["target"].end(), kLateBytes.begin(), kLateBytes.end());
#endif
      EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
    }
  }
}

// A change to the target right before an attempt of the move: made, it is seen and nothing is
// replaced; Windows keeps it out while the target is still held (writes and a rename over it; a
// removal only marks it), and the result goes in. Each change says whether it could be made.
// The signature sees every character of a passphrase this long, so an older file decoded in place
// is replaced directly, not stepped aside first; that path has its own races, tested with it.
constexpr char kFullySeen[] = "seven!!";

TEST(FileSafety, TargetChangedBeforeTheMoveIsNotReplaced) {
  struct Change {
    const char* name;
    bool (*make)(const ScratchFolder&);
    bool targetGone;
    bool madeWhileHeld;  // on Windows
  };
  const Change changes[] = {
      {"appended", [](const ScratchFolder& f) { return Append(f["target"], kLateBytes); }, false,
       false},
      {"saved anew under its name",
       [](const ScratchFolder& f) {
         WriteBytes(f["saved"], kLateBytes);
         std::error_code error;
         fs::rename(fs::u8path(f["saved"]), fs::u8path(f["target"]), error);
         if (error) fs::remove(fs::u8path(f["saved"]));
         return !error;
       },
       false, false},
      {"removed",
       [](const ScratchFolder& f) {
         std::error_code error;
         return fs::remove(fs::u8path(f["target"]), error);
       },
       true, true},
      {"cut short",
       [](const ScratchFolder& f) {
         std::error_code error;
         fs::resize_file(fs::u8path(f["target"]), 1000, error);
         return !error;
       },
       false, false},
      // Only the change time tells this one: size and write time are as they were.
      {"rewritten with its write time put back",
       [](const ScratchFolder& f) {
         const fs::path target = fs::u8path(f["target"]);
         const auto written = fs::last_write_time(target);
         Bytes bytes = ReadBytes(f["target"]);
         bytes[500] ^= 0xff;
         std::this_thread::sleep_for(std::chrono::milliseconds(20));
         std::ofstream out(target, std::ios::binary | std::ios::in | std::ios::out);
         out.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
         if (!out.flush()) return false;
         out.close();
         fs::last_write_time(target, written);
         return true;
       },
       false, false},
  };
  // The output is identified first, the target before the first attempt (still held), and on
  // Windows, where the held file could not be replaced, again before the next.
  std::vector<int> checks = {2};
#ifdef _WIN32
  checks.push_back(3);
#endif
  for (const Change& change : changes) {
    for (int check : checks) {
      for (const NamedOperation& op : kTransforms) {
        for (bool inPlace : {true, false}) {
          SCOPED_TRACE(std::string(op.name) + ", target " + change.name + " at check " +
                       std::to_string(check) + (inPlace ? ", in place" : ", to an old output"));
          Scene scene(op.operation, kFullySeen);
          bool struck = false, made = false;
          FaultyFileServices files({{Call::IdentifyPath, check, Fault::Interject, [&] {
                                       struck = true;
                                       made = change.make(scene.folder);
                                     }}});
          JobStatus status = RunJob(op.operation, kFullySeen, scene.folder["target"],
                                    inPlace ? "" : scene.folder["old"], files);
#ifdef _WIN32
          if (check == 2) {
            EXPECT_EQ(made, change.madeWhileHeld);
          }
#else
          EXPECT_TRUE(made);
#endif
          if (struck && made) {
            EXPECT_EQ(status, JobStatus::TargetChanged);
            const std::vector<std::string> left = change.targetGone
                                                      ? std::vector<std::string>{"old"}
                                                      : std::vector<std::string>{"old", "target"};
            EXPECT_EQ(scene.folder.Names(), left);
            EXPECT_TRUE(ReadBytes(scene.folder["old"]) == Pattern(777, 2));
          } else {
            EXPECT_EQ(status, JobStatus::Ok);
            EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder[inPlace ? "target" : "old"]),
                                     scene.Expected(op.operation)));
          }
        }
      }
    }
  }
}

TEST(FileSafety, FileWithOtherNamesIsNotReplacedInPlace) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    fs::create_hard_link(fs::u8path(scene.folder["target"]), fs::u8path(scene.folder["alias"]));
    auto expected = Snapshot(scene.folder.Path());
    EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], ""),
              JobStatus::TargetHasOtherNames);
    // The same file by another of its names.
    EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["alias"]),
              JobStatus::TargetHasOtherNames);
    EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
    // Another file as output is fine: only that file's name changes hands.
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["old"]),
              JobStatus::Ok);
    expected["old"] = scene.Expected(op.operation);
    EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
  }
}

struct NotAFileCase {
  const char* name;
  std::string target, output;
  JobStatus expected;
};

// Each transform, and the probe of each target it cannot open, refuses every case. The folder
// holds "plain" and its encoding "encoded", so that Decode gets as far as the output.
template <size_t kCount>
void ExpectRefused(const ScratchFolder& folder, const NotAFileCase (&cases)[kCount]) {
  for (const NotAFileCase& c : cases) {
    for (const NamedOperation& op : kTransforms) {
      SCOPED_TRACE(std::string(op.name) + ": " + c.name);
      const bool ownFile = c.target == folder["plain"] && op.operation == &EncodingJob::Decode;
      EXPECT_EQ(RunJob(op.operation, kPassphrase, ownFile ? folder["encoded"] : c.target, c.output),
                c.expected);
    }
    if (c.expected == JobStatus::OpenFailed) {
      EXPECT_EQ(RunJob(&EncodingJob::Probe, kPassphrase, c.target, ""), JobStatus::OpenFailed)
          << c.name;
    }
  }
}

#ifdef _WIN32

DWORD Attributes(const std::string& path) { return GetFileAttributesW(fs::u8path(path).c_str()); }

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesW(fs::u8path(path).c_str(), attributes));
}

TEST(FileSafety, ReplacedFileKeepsItsHiddenSystemAndNotIndexedMarks) {
  const DWORD kMarks =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    SetAttributes(scene.folder["target"], FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(scene.folder["old"], FILE_ATTRIBUTE_HIDDEN);
    const std::string copy = scene.folder["copy"];
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], copy), JobStatus::Ok);
    // A new output takes the target's permissions, not its marks.
    EXPECT_EQ(Attributes(copy) & kMarks, 0u);
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["old"]),
              JobStatus::Ok);
    EXPECT_EQ(Attributes(scene.folder["old"]) & kMarks, FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
    EXPECT_EQ(Attributes(scene.folder["target"]) & kMarks,
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder["target"]), scene.Expected(op.operation)));
    SetAttributes(scene.folder["target"], FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if ((Attributes(scene.folder["target"]) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED) == 0) {
      std::cout << "This system keeps no not-indexed mark on a file; Windows does.\n";
      continue;
    }
    ASSERT_EQ(
        RunJob(op.operation == &EncodingJob::Encode ? &EncodingJob::Decode : &EncodingJob::Encode,
               kPassphrase, scene.folder["target"], ""),
        JobStatus::Ok);
    EXPECT_EQ(Attributes(scene.folder["target"]) & kMarks,
              static_cast<DWORD>(FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  }
}

// The DACL as text, or empty when the file has none this system can show.
std::string DaclText(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(fs::u8path(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  std::string text;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  if (control & SE_DACL_PROTECTED) text += "protected ";
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    text += std::to_string(ace->Header.AceType) + ":" + std::to_string(ace->Mask) + " ";
  }
  LocalFree(descriptor);
  return text;
}

// Everyone may only read, as a user might set it on a shared folder's file.
bool ProtectReadOnlyForEveryone(const std::string& path) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    return false;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_READ;
  access.grfAccessMode = SET_ACCESS;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL dacl = nullptr;
  bool set = SetEntriesInAclW(1, &access, nullptr, &dacl) == ERROR_SUCCESS &&
             SetNamedSecurityInfoW(fs::u8path(path).wstring().data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  LocalFree(dacl);
  FreeSid(everyone);
  return set;
}

TEST(FileSafety, ReplacedFileKeepsItsAccessControlList) {
  Scene scene(&EncodingJob::Encode, kPassphrase);
  const std::string inherited = DaclText(scene.folder["target"]);
  if (!ProtectReadOnlyForEveryone(scene.folder["target"]) ||
      DaclText(scene.folder["target"]) == inherited) {
    GTEST_SKIP() << "this system keeps no access control list of its own on a file";
  }
  const std::string protectedDacl = DaclText(scene.folder["target"]);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, scene.folder["target"], scene.folder["new"]),
            JobStatus::Ok);
  EXPECT_EQ(DaclText(scene.folder["new"]), protectedDacl);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
  EXPECT_EQ(DaclText(scene.folder["target"]), protectedDacl);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, scene.folder["target"], scene.folder["old"]),
            JobStatus::Ok);
  EXPECT_EQ(DaclText(scene.folder["old"]), inherited);
}

// Adds to folder's DACL an entry that lets everyone have rights on every file made in it.
bool PassOnToEveryone(const std::string& folder, DWORD rights) {
  const std::wstring path = fs::u8path(folder).wstring();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL old = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &old, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = rights;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = OBJECT_INHERIT_ACE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  wchar_t everyone[] = L"Everyone";
  access.Trustee.ptstrName = everyone;
  PACL dacl = nullptr;
  bool set = SetEntriesInAclW(1, &access, old, &dacl) == ERROR_SUCCESS &&
             SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                   nullptr) == ERROR_SUCCESS;
  LocalFree(dacl);
  LocalFree(descriptor);
  return set;
}

// The entries a target inherited from its folder go with it; those the new output's folder passes
// on would give everyone the content.
TEST(FileSafety, NewOutputIsNeverWiderThanItsTargetWhateverItsFolderPassesOn) {
  ScratchFolder from, to;
  WriteBytes(from["alone"], Pattern(1000, 4));
  if (!PassOnToEveryone(from.Path().u8string(), FILE_GENERIC_READ) ||
      !PassOnToEveryone(to.Path().u8string(), FILE_ALL_ACCESS)) {
    GTEST_SKIP() << "this system keeps no access control list of its own on a folder";
  }
  WriteBytes(from["target"], Pattern(1000, 4));
  const std::string dacl = DaclText(from["target"]);
  if (dacl == DaclText(from["alone"])) {
    GTEST_SKIP() << "this system passes on no entry from a folder to its files";
  }
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, from["target"], to["new"]), JobStatus::Ok);
  // Decoded beside the target: the new output's DACL, its own entries alone, goes along whole.
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, to["new"], from["back"]), JobStatus::Ok);
  EXPECT_EQ(DaclText(to["new"]), "protected " + dacl);
  EXPECT_EQ(DaclText(from["back"]), "protected " + dacl);
}

TEST(FileSafety, TargetsAndOutputsThatAreNoDiskFilesAreRefused) {
  const std::wstring pipeName =
      L"\\\\.\\pipe\\karvel-test-" + std::to_wstring(GetCurrentProcessId());
  HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 4096,
                                 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::string pipePath(pipeName.begin(), pipeName.end());
  ScratchFolder folder;
  WriteBytes(folder["plain"], Pattern(1000, 3));
  WriteBytes(folder["encoded"], ReferenceEncode(kPassphrase, Pattern(1000, 3)));
  const auto before = Snapshot(folder.Path());
  const NotAFileCase cases[] = {
      {"named pipe as target", pipePath, folder["out"], JobStatus::OpenFailed},
      {"endless device as target", "Z:\\dev\\zero", folder["out"], JobStatus::OpenFailed},
      {"NUL as output", folder["plain"], "NUL", JobStatus::OutputNotAFile},
      {"device node as output", folder["plain"], "Z:\\dev\\null", JobStatus::OutputNotAFile},
  };
  ExpectRefused(folder, cases);
  CloseHandle(pipe);
  EXPECT_EQ(Snapshot(folder.Path()), before);
}

// An output that is a symbolic link has the file it leads to written and stays a link.
TEST(FileSafety, AnOutputThatIsALinkHasTheFileItLeadsToWritten) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    ScratchFolder elsewhere;
    WriteBytes(elsewhere["real"], Pattern(777, 2));
    const std::string link = scene.folder["link"];
    if (!CreateSymbolicLinkW(fs::u8path(link).c_str(), fs::u8path(elsewhere["real"]).c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        Attributes(link) == INVALID_FILE_ATTRIBUTES) {  // Wine says it made one, but did not
      GTEST_SKIP() << "this system makes no symbolic link for this user";
    }
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], link), JobStatus::Ok);
    EXPECT_TRUE(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_TRUE(SameEncoding(ReadBytes(elsewhere["real"]), scene.Expected(op.operation)));
    EXPECT_EQ(elsewhere.Names(), std::vector<std::string>{"real"});
    EXPECT_EQ(scene.folder.Names(), (std::vector<std::string>{"link", "old", "target"}));
  }
}

// Another program holds path open, as a scanner or a preview does for a moment.
void Hold(const std::string& path, std::chrono::milliseconds hold, HANDLE* ready) {
  HANDLE holder = CreateFileW(fs::u8path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetEvent(*ready);
  std::this_thread::sleep_for(hold);
  CloseHandle(holder);
}

TEST(FileSafety, OutputHeldBrieflyIsReplacedOnceReleased) {
  for (const NamedOperation& op : kTransforms) {
    for (auto [hold, expected] :
         {std::pair{std::chrono::milliseconds(300), JobStatus::Ok},
          std::pair{std::chrono::milliseconds(5000), JobStatus::ReplaceFailed}}) {
      SCOPED_TRACE(std::string(op.name) + " held " + std::to_string(hold.count()) + " ms");
      Scene scene(op.operation, kPassphrase);
      auto after = Snapshot(scene.folder.Path());
      if (expected == JobStatus::Ok) after["old"] = scene.Expected(op.operation);
      HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      std::string old = scene.folder["old"];
      // Held from just before the move on.
      FaultyFileServices files({{Call::IdentifyPath, 2, Fault::Interject, [&] {
                                   std::thread(Hold, old, hold, &ready).detach();
                                   WaitForSingleObject(ready, INFINITE);
                                 }}});
      EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], old, files), expected);
      std::this_thread::sleep_for(hold);  // until the holder lets go
      EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), after));
      CloseHandle(ready);
    }
  }
}

// The temporary file is removed on a refusal even when a scanner holds it for a moment.
TEST(FileSafety, TemporaryFileHeldBrieflyIsStillRemoved) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::string temporary = scene.folder["old.tmp"];
    FaultyFileServices files(
        {{Call::IdentifyPath, 2, Fault::Interject, [&] {
            std::thread(Hold, temporary, std::chrono::milliseconds(300), &ready).detach();
            WaitForSingleObject(ready, INFINITE);
            ASSERT_TRUE(fs::remove(fs::u8path(scene.folder["target"])));  // held, so only this
          }}});
    EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["old"], files),
              JobStatus::TargetChanged);
    EXPECT_EQ(scene.folder.Names(), std::vector<std::string>{"old"});
    CloseHandle(ready);
  }
}

// Another disk or a share may hold both "trail" and "trail.": each is reached by its own name.
TEST(FileSafety, ANameEndingInADotOrASpaceIsNeverAnotherFile) {
  for (const char* name : {"trail.", "space "}) {
    SCOPED_TRACE(name);
    ScratchFolder folder;
    const std::string bare = std::string(name).substr(0, std::strlen(name) - 1);
    const std::wstring given = L"\\\\?\\" + fs::u8path(folder[name]).wstring();
    WriteBytes(folder[bare], Pattern(1000, 7));
    HANDLE file = CreateFileW(given.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    const Bytes plain = Pattern(3000, 8);
    WriteFile(file, plain.data(), static_cast<DWORD>(plain.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder[name], ""), JobStatus::Ok);
    EXPECT_TRUE(ReadBytes(folder[bare]) == Pattern(1000, 7));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{bare, name}));
    ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, folder[name], ""), JobStatus::Ok);
    EXPECT_TRUE(ReadBytes(folder[bare]) == Pattern(1000, 7));
    // The standard library's removal would reach the bare name alone, over and over.
    EXPECT_TRUE(DeleteFileW(given.c_str()));
  }
}

#else

mode_t Mode(const std::string& path) {
  struct stat status;
  EXPECT_EQ(stat(path.c_str(), &status), 0);
  return status.st_mode & 07777;
}

TEST(FileSafety, ResultTakesThePermissionsOfTheFileItReplaces) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    chmod(scene.folder["target"].c_str(), 0640);
    chmod(scene.folder["old"].c_str(), 0604);
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["new"]),
              JobStatus::Ok);
    EXPECT_EQ(Mode(scene.folder["new"]), 0640u);
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["old"]),
              JobStatus::Ok);
    EXPECT_EQ(Mode(scene.folder["old"]), 0604u);
    chmod(scene.folder["target"].c_str(), 0600);
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
    EXPECT_EQ(Mode(scene.folder["target"]), 0600u);
    EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder["target"]), scene.Expected(op.operation)));
  }
}

// Where the system makes no unnamed file, the temporary file has its name from the start: it
// stays its owner's alone while it fills and while it is flushed, and takes the replaced file's
// permissions only right before it takes its place.
TEST(FileSafety, ANamedTemporaryFileIsItsOwnersAloneUntilItsLastMoments) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase);
    chmod(scene.folder["target"].c_str(), 0644);
    const std::string temporary = scene.folder["target"] + ".tmp";
    mode_t whileFlushed = 0;
    mode_t beforeTheMove = 0;
    FaultyFileServices files(
        {{Call::CreateUnnamed, 1, Fault::Fail},
         {Call::Flush, 1, Fault::Interject, [&] { whileFlushed = Mode(temporary); }},
         {Call::Move, 1, Fault::Interject, [&] { beforeTheMove = Mode(temporary); }}});
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], "", files), JobStatus::Ok);
    EXPECT_TRUE(files.AllStruck());
    EXPECT_EQ(whileFlushed, 0600u);
    EXPECT_EQ(beforeTheMove, 0644u);
    EXPECT_EQ(Mode(scene.folder["target"]), 0644u);
  }
}

// A socket bound at path, closed again when the test ends.
struct BoundSocket {
  explicit BoundSocket(const std::string& path) : fd(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~BoundSocket() { close(fd); }
  int fd;
  bool bound;
};

TEST(FileSafety, TargetsAndOutputsThatAreNoRegularFilesAreRefused) {
  ScratchFolder folder;
  WriteBytes(folder["plain"], Pattern(1000, 3));
  WriteBytes(folder["encoded"], ReferenceEncode(kPassphrase, Pattern(1000, 3)));
  ASSERT_EQ(mkfifo(folder["fifo"].c_str(), 0600), 0);
  BoundSocket socket(folder["socket"]);
  ASSERT_TRUE(socket.bound);
  const auto before = Snapshot(folder.Path());
  const NotAFileCase cases[] = {
      {"FIFO without a writer as target", folder["fifo"], folder["out"], JobStatus::OpenFailed},
      {"endless device as target", "/dev/zero", folder["out"], JobStatus::OpenFailed},
      {"FIFO as output", folder["plain"], folder["fifo"], JobStatus::OutputNotAFile},
      {"device node as output", folder["plain"], "/dev/null", JobStatus::OutputNotAFile},
      {"socket as output", folder["plain"], folder["socket"], JobStatus::OutputNotAFile},
  };
  ExpectRefused(folder, cases);
  EXPECT_EQ(Snapshot(folder.Path()), before);
}

// The entries of path's access list, as getfacl prints them.
std::string AccessList(const std::string& path) {
  std::string command = "getfacl --omit-header --absolute-names '" + path + "' 2>/dev/null";
  std::string text;
  if (FILE* out = popen(command.c_str(), "r")) {
    char line[256];
    while (fgets(line, sizeof line, out) != nullptr) text += line;
    pclose(out);
  }
  return text;
}

bool SetAccessList(const std::string& path, const std::string& entries) {
  return std::system(("setfacl -m '" + entries + "' '" + path + "'").c_str()) == 0;
}

// A deny entry and a named reader: widening either would let someone read what they may not.
TEST(FileSafety, ResultKeepsEveryEntryOfTheAccessListItReplaces) {
  for (const char* entries : {"u:nobody:---", "u:nobody:r--"}) {
    SCOPED_TRACE(entries);
    Scene scene(&EncodingJob::Encode, kPassphrase);
    chmod(scene.folder["target"].c_str(), entries[10] == 'r' ? 0600 : 0644);
    if (!SetAccessList(scene.folder["target"], entries)) GTEST_SKIP() << "no setfacl here";
    const std::string list = AccessList(scene.folder["target"]);
    ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
    EXPECT_EQ(AccessList(scene.folder["target"]), list);
    ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
    EXPECT_EQ(AccessList(scene.folder["target"]), list);
    EXPECT_TRUE(ReadBytes(scene.folder["target"]) == scene.plain);
  }
}

bool SetDefaultAccessList(const std::string& folder, const std::string& entries) {
  return std::system(("setfacl -d -m '" + entries + "' '" + folder + "'").c_str()) == 0;
}

// A folder's default list would give daemon the plain content, through the temporary file the
// result starts as: a result in place carries the list of the file it replaces, a new output that
// of its target, a minimal list too.
TEST(FileSafety, ResultIsNeverWiderThanWhatItReplacesWhateverTheFolderSays) {
  for (const char* entries : {"", "u:nobody:r--"}) {
    for (const NamedOperation& op : kTransforms) {
      SCOPED_TRACE(std::string(op.name) + " with " + (entries[0] ? entries : "no entry"));
      Scene scene(op.operation, kPassphrase);
      chmod(scene.folder["target"].c_str(), 0640);
      if (entries[0] != '\0' && !SetAccessList(scene.folder["target"], entries)) {
        GTEST_SKIP() << "no setfacl here";
      }
      if (!SetDefaultAccessList(scene.folder.Path().string(), "u:daemon:rw")) {
        GTEST_SKIP() << "no default access lists here";
      }
      const std::string list = AccessList(scene.folder["target"]);
      ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["new"]),
                JobStatus::Ok);
      EXPECT_EQ(AccessList(scene.folder["new"]), list);
      ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], ""), JobStatus::Ok);
      EXPECT_EQ(AccessList(scene.folder["target"]), list);
      EXPECT_EQ(list.find("daemon"), std::string::npos);
      EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder["target"]), scene.Expected(op.operation)));
    }
  }
}

// In place through a link, the file the link names is transformed and the link stays.
TEST(FileSafety, InPlaceThroughALinkTheFileItLeadsToIsTransformed) {
  ScratchFolder folder, elsewhere;
  const Bytes plain = Pattern(300000, 5);
  WriteBytes(elsewhere["real"], plain);
  fs::create_symlink(elsewhere["real"], folder["link"]);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder["link"], ""), JobStatus::Ok);
  EXPECT_TRUE(fs::is_symlink(folder["link"]));
  EXPECT_TRUE(SameEncoding(ReadBytes(elsewhere["real"]), ReferenceEncode(kPassphrase, plain)));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"link"});
  EXPECT_EQ(elsewhere.Names(), std::vector<std::string>{"real"});
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, folder["link"], folder["link"]),
            JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(elsewhere["real"]) == plain);
}

struct LinkedOutputCase {
  const char* name;
  std::string (*make)(const ScratchFolder& elsewhere);  // makes what the link leads to; its path
  JobStatus expected;
};

std::string MakeFile(const ScratchFolder& elsewhere) {
  WriteBytes(elsewhere["real"], Pattern(777, 2));
  chmod(elsewhere["real"].c_str(), 0604);
  return elsewhere["real"];
}

// An output that is a link has the file it leads to written, as a copy or a redirection would,
// with that file's permissions, and stays a link; one that leads to no file is refused before
// anything is asked, and nothing is written.
TEST(FileSafety, AnOutputThatIsALinkHasTheFileItLeadsToWritten) {
  const LinkedOutputCase cases[] = {
      {"a file", MakeFile, JobStatus::Ok},
      {"a file, by a path from the link's folder",
       [](const ScratchFolder& elsewhere) {
         MakeFile(elsewhere);
         return "../" + elsewhere.Path().filename().string() + "/real";
       },
       JobStatus::Ok},
      {"a link to a file",
       [](const ScratchFolder& elsewhere) {
         fs::create_symlink(MakeFile(elsewhere), elsewhere["hop"]);
         return elsewhere["hop"];
       },
       JobStatus::Ok},
      {"the null device", [](const ScratchFolder&) { return std::string("/dev/null"); },
       JobStatus::OutputNotAFile},
      {"a FIFO",
       [](const ScratchFolder& elsewhere) {
         EXPECT_EQ(mkfifo(elsewhere["fifo"].c_str(), 0600), 0);
         return elsewhere["fifo"];
       },
       JobStatus::OutputNotAFile},
      {"a folder",
       [](const ScratchFolder& elsewhere) {
         fs::create_directory(elsewhere["folder"]);
         return elsewhere["folder"];
       },
       JobStatus::OutputIsFolder},
      {"nothing", [](const ScratchFolder& elsewhere) { return elsewhere["absent"]; },
       JobStatus::LinkUnresolved},
  };
  for (const LinkedOutputCase& c : cases) {
    for (const NamedOperation& op : kTransforms) {
      SCOPED_TRACE(std::string(op.name) + " to a link that leads to " + c.name);
      Scene scene(op.operation, kPassphrase);
      ScratchFolder elsewhere;
      const std::string leadsTo = c.make(elsewhere);
      const std::string link = scene.folder["link"];
      fs::create_symlink(leadsTo, link);
      auto after = Snapshot(elsewhere.Path());
      if (c.expected == JobStatus::Ok) {
        for (auto& entry : after) entry.second = scene.Expected(op.operation);  // all lead to real
      }
      EncodingJob job;
      ASSERT_EQ(job.SetTargetPath(scene.folder["target"].c_str()), JobStatus::Ok);
      ASSERT_EQ(job.SetOutputPath(link.c_str()), JobStatus::Ok);
      EXPECT_EQ(job.OutputStatus(), c.expected);
      EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], link), c.expected);
      EXPECT_EQ(fs::read_symlink(link), leadsTo);
      EXPECT_EQ(scene.folder.Names(), (std::vector<std::string>{"link", "old", "target"}));
      EXPECT_TRUE(ReadBytes(scene.folder["target"]) == scene.TargetBytes(op.operation));
      EXPECT_TRUE(SameFiles(Snapshot(elsewhere.Path()), after));
      if (c.expected == JobStatus::Ok) {
        EXPECT_EQ(Mode(elsewhere["real"]), 0604u);
        EXPECT_TRUE(fs::is_symlink(elsewhere["hop"]) || !fs::exists(elsewhere["hop"]));
      }
    }
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// In place, the target's link; to another output, the output's link.
TEST(FileSafety, ALinkThatCannotBeFollowedIsRefused) {
  for (auto [call, inPlace] : {std::pair{Call::FinalPath, true}, {Call::ResolveLinks, false}}) {
    SCOPED_TRACE(inPlace ? "in place" : "to another output");
    ScratchFolder folder;
    WriteBytes(folder["real"], Pattern(1000, 6));
    WriteBytes(folder["plain"], Pattern(2000, 7));
    fs::create_symlink(folder["real"], folder["link"]);
    FaultyFileServices files({{call, 1, Fault::Fail}});
    EXPECT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder[inPlace ? "link" : "plain"],
                     inPlace ? "" : folder["link"], files),
              JobStatus::LinkUnresolved);
    EXPECT_TRUE(files.AllStruck());
    EXPECT_TRUE(ReadBytes(folder["real"]) == Pattern(1000, 6));
    EXPECT_TRUE(fs::is_symlink(folder["link"]));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"link", "plain", "real"}));
  }
}

#endif

}  // namespace
}  // namespace karvel
