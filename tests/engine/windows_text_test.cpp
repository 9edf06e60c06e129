// The wide form the Win32 file layer gives a UTF-8 path, and a passphrase's
// bytes in a code page. Wine opens long paths even without the \\?\ form,
// where Windows does not, so the form itself is what these tests look at.
#include "engine/windows_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/cli/code_page_cases.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  int units =
      MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(units > 0 ? units - 1 : 0);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  std::string text(4 * wide.size() + 1, '\0');
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(),
                                  static_cast<int>(text.size()), nullptr, nullptr);
  text.resize(bytes > 0 ? bytes - 1 : 0);
  return text;
}

// The wide form of path, or the empty text when there is none.
std::wstring FormOf(const std::string& path, WidePath expected = WidePath::Ok) {
  std::wstring wide;
  EXPECT_EQ(ToWidePath(path.c_str(), &wide), expected) << path;
  return expected == WidePath::Ok ? wide : std::wstring();
}

std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring text = folder;
  if (text.back() != L'\\') text += L'\\';
  return text;
}

// A name of count characters, each taking three bytes of UTF-8 and one unit of UTF-16.
std::string Kanji(size_t count) {
  std::string name;
  for (size_t i = 0; i < count; ++i) name += "表";
  return name;
}

TEST(WidePath, ShortFullPathsStayAsTheyAreAndRoundTrip) {
  for (const std::string path : {"C:\\plain.txt", "C:\\表\\ソ\\能\\十\\한국어😀.bin",
                                 "\\\\server\\share\\ファイル.txt", "\\\\?\\C:\\already\\long"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Narrow(FormOf(path)), path);
  }
}

TEST(WidePath, FullPathsBeyondTheClassicLimitTakeTheLongForm) {
  const std::string folder = "C:\\" + Kanji(200) + "\\" + Kanji(200);
  const std::wstring form = FormOf(folder + "\\file.bin");
  EXPECT_EQ(form, L"\\\\?\\" + Wide(folder + "\\file.bin"));
  EXPECT_EQ(Narrow(form.substr(4)), folder + "\\file.bin");
  // Separators and dots are settled first, since the long form is taken literally.
  EXPECT_EQ(FormOf("C:/" + Kanji(300) + "/./x/../file.bin"),
            L"\\\\?\\C:\\" + Wide(Kanji(300)) + L"\\file.bin");
  // Just under and just at the limit of 260 with the terminator.
  EXPECT_EQ(FormOf("C:\\" + std::string(256, 'a')), Wide("C:\\" + std::string(256, 'a')));
  EXPECT_EQ(FormOf("C:\\" + std::string(257, 'a')), L"\\\\?\\C:\\" + std::wstring(257, L'a'));
}

TEST(WidePath, SharesBeyondTheLimitTakeTheLongShareForm) {
  const std::string rest = "server\\share\\" + Kanji(300) + "\\file.bin";
  EXPECT_EQ(FormOf("\\\\" + rest), L"\\\\?\\UNC\\" + Wide(rest));
}

TEST(WidePath, RelativePathsAreMadeFullAgainstTheCurrentFolder) {
  const std::wstring here = CurrentFolder();
  EXPECT_EQ(FormOf("한국어.bin"), here + Wide("한국어.bin"));
  EXPECT_EQ(FormOf("sub\\..\\file.bin"), here + L"file.bin");
  const std::wstring longForm = FormOf(Kanji(300));
  EXPECT_EQ(longForm, L"\\\\?\\" + here + Wide(Kanji(300)));
}

TEST(WidePath, TooLongOrNotTextIsRefused) {
  // Each kanji is one UTF-16 unit: the longest path fits, one more does not.
  const std::string longest = "C:\\" + Kanji(kMaxPathUnits - 3 - 4);
  EXPECT_EQ(FormOf(longest).size(), kMaxPathUnits);
  FormOf(longest + "x", WidePath::TooLong);
  // Fits as typed, but not once made full.
  FormOf(Kanji(kMaxPathUnits - 2), WidePath::TooLong);
  FormOf("C:\\bad\xff\xfe.txt", WidePath::NotText);
  FormOf("", WidePath::NotText);
}

TEST(WidePath, ALastPartEndingInADotOrASpaceKeepsItsEnding) {
  const std::wstring here = CurrentFolder();
  EXPECT_EQ(FormOf("C:\\data\\trail."), L"\\\\?\\C:\\data\\trail.");
  EXPECT_EQ(FormOf("C:\\data\\..\\space "), L"\\\\?\\C:\\space ");
  EXPECT_EQ(FormOf("trail."), L"\\\\?\\" + here + L"trail.");
  EXPECT_EQ(FormOf("\\\\server\\share\\trail."), L"\\\\?\\UNC\\server\\share\\trail.");
  // "." and ".." are folders to settle, not endings to keep.
  EXPECT_EQ(FormOf("C:\\data\\sub\\.."), L"C:\\data");
}

// A name beside a path is made from the path's full form, as the path was when prepared, and
// takes the long form once it needs it; its text follows the path's own.
TEST(WidePath, NamesBesideAPreparedPathKeepItsFullForm) {
  struct Case {
    std::string path;
    const char* tail;
    bool replaceName;
    std::wstring units;
    std::string text;
  };
  const std::wstring here = CurrentFolder();
  const std::string nearLimit = "C:\\" + std::string(MAX_PATH - 8, 'a');  // 5 short of 260
  const std::string share = "\\\\server\\share\\" + std::string(MAX_PATH - 18, 's');
  const Case cases[] = {
      {"C:\\data\\file", ".tmp", false, L"C:\\data\\file.tmp", "C:\\data\\file.tmp"},
      {"C:\\data\\file", "karvel.1.tmp", true, L"C:\\data\\karvel.1.tmp", "C:\\data\\karvel.1.tmp"},
      {"file", ".encoded", false, here + L"file.encoded", "file.encoded"},
      {"file", "karvel.tmp", true, here + L"karvel.tmp", "karvel.tmp"},
      {nearLimit, ".tmp", false, Wide(nearLimit) + L".tmp", nearLimit + ".tmp"},
      {nearLimit, ".1.tmp", false, L"\\\\?\\" + Wide(nearLimit) + L".1.tmp", nearLimit + ".1.tmp"},
      {share, ".tmp", false, L"\\\\?\\UNC" + Wide(share.substr(1)) + L".tmp", share + ".tmp"},
      {"C:\\data\\trail.", ".tmp", false, L"\\\\?\\C:\\data\\trail..tmp", "C:\\data\\trail..tmp"},
  };
  FileServices& files = SystemFileServices();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.tail);
    SystemPath name;
    ASSERT_TRUE(files.Beside(Prepared(c.path), c.tail, c.replaceName, &name));
    EXPECT_EQ(name.units, c.units);
    EXPECT_EQ(name.text, c.text);
  }
  const std::string longest = "C:\\" + Kanji(kMaxPathUnits - 3 - 4);
  SystemPath name;
  EXPECT_FALSE(files.Beside(Prepared(longest), ".tmp", false, &name));
}

// Both names present: each reaches its own file.
TEST(WidePath, ANameEndingInADotIsNotTheNameWithout) {
  ScratchFolder folder;
  WriteBytes(folder["trail"], Bytes{1});
  const std::wstring dotted = FormOf(folder["trail."]);
  HANDLE file = CreateFileW(dotted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(file);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"trail", "trail."}));
  EXPECT_EQ(ReadBytes(folder["trail"]), Bytes{1});
  // The standard library's removal would reach "trail" alone, over and over.
  EXPECT_TRUE(DeleteFileW(dotted.c_str()));
}

TEST(WidePath, LongFormOpensTheSameFile) {
  ScratchFolder folder;
  std::string path = folder.Path().u8string();
  while (path.size() < 1200) {  // bytes: about 400 characters
    path += "\\" + Kanji(60);
    ASSERT_TRUE(CreateDirectoryW(FormOf(path).c_str(), nullptr)) << GetLastError();
  }
  path += "\\한국어😀.bin";
  const std::wstring form = FormOf(path);
  ASSERT_EQ(form.substr(0, 4), L"\\\\?\\");
  HANDLE file = CreateFileW(form.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "round", 5, &written, nullptr);
  CloseHandle(file);
  EXPECT_EQ(ReadBytes(path), (Bytes{'r', 'o', 'u', 'n', 'd'}));
}

template <size_t size>
void ExpectTable(const CodePageCase (&table)[size]) {
  for (const CodePageCase& c : table) {
    if (c.codePage == 0) continue;  // karvel-cli's ASCII without a code page
    SCOPED_TRACE(std::string(c.typed) + " in " + std::to_string(c.codePage));
    std::wstring typed;
    ASSERT_TRUE(ToWide(c.typed, &typed));
    char bytes[kPassphraseFieldSize];
    std::memset(bytes, 'x', sizeof bytes);
    JobStatus status = PassphraseBytes(typed.c_str(), static_cast<unsigned>(c.codePage), bytes);
    if (c.bytes == nullptr) {
      EXPECT_EQ(status, JobStatus::PassphraseUnusable);
      EXPECT_EQ(std::string(bytes, sizeof bytes), std::string(sizeof bytes, '\0'));
    } else {
      EXPECT_EQ(status, JobStatus::Ok);
      EXPECT_STREQ(bytes, c.bytes);
    }
  }
}

// The window's bytes for what karvel-cli is given too; a refusal leaves nothing behind.
TEST(PassphraseBytes, EachCharacterInItsOwnExactFormOrRefused) {
  ExpectTable(kCodePageCases);
  ExpectTable(kWindowsBytes);
}

TEST(PassphraseBytes, TooLongOrALoneSurrogateIsRefused) {
  char bytes[kPassphraseFieldSize];
  const std::wstring fits(kMaxPassphraseLength, L'a');
  EXPECT_EQ(PassphraseBytes(fits.c_str(), 1252, bytes), JobStatus::Ok);
  const std::wstring tooLong(kMaxPassphraseLength + 1, L'a');
  EXPECT_EQ(PassphraseBytes(tooLong.c_str(), 1252, bytes), JobStatus::PassphraseTooLong);
  // Two bytes each in Shift-JIS: 64 of them are a byte too many.
  const std::wstring wide(kMaxPassphraseLength / 2 + 1, L'\x65e5');
  EXPECT_EQ(PassphraseBytes(wide.c_str(), 932, bytes), JobStatus::PassphraseTooLong);
  EXPECT_EQ(PassphraseBytes(L"a\xd800z", 65001, bytes), JobStatus::PassphraseUnusable);
}

}  // namespace
}  // namespace karvel
