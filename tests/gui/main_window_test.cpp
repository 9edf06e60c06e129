// In-process tests of the front end: the compiled resources, the main
// window made exactly as WinMain makes it, dropping files and the About box.
#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/path_limits.h"
#include "res/resource.h"
#include "res/version.h"
#include "ui/about_box.h"
#include "ui/messages.h"
#include "ui/placement.h"

namespace karvel {
namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// Reads a dialog template the way the dialog manager does.
class TemplateReader {
 public:
  explicit TemplateReader(const void* data) : at_(static_cast<const BYTE*>(data)) {}

  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  BYTE Byte() { return Take<BYTE>(); }
  short Short() { return Take<short>(); }

  // A name or, after 0xFFFF, an ordinal written as "#n"; "" when absent.
  std::wstring NameOrOrdinal() {
    WORD first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }

  void AlignToDword() {
    while (reinterpret_cast<uintptr_t>(at_) % 4 != 0) ++at_;
  }

 private:
  template <class T>
  T Take() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  const BYTE* at_;
};

const void* LoadJapaneseResource(LPCSTR type, int id) {
  HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), kJapanese);
  if (found == nullptr) return nullptr;
  return LockResource(LoadResource(nullptr, found));
}

struct Control {
  int id;
  std::wstring windowClass;  // "#128" button, "#129" edit, "#130" static
  std::wstring text;
  DWORD style;

  bool operator==(const Control& other) const {
    return id == other.id && windowClass == other.windowClass && text == other.text &&
           style == other.style;
  }
};

void PrintTo(const Control& control, std::ostream* out) {
  *out << "id " << control.id << " class " << ::testing::PrintToString(control.windowClass)
       << " text " << ::testing::PrintToString(control.text) << " style 0x" << std::hex
       << control.style << std::dec;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kEdit = kChild | ES_LEFT | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;

TEST(MainTemplate, HeaderFields) {
  const void* data = LoadJapaneseResource(RT_DIALOG, IDD_MAIN);
  ASSERT_NE(data, nullptr);
  TemplateReader reader(data);
  EXPECT_EQ(reader.Word(), 1);       // version of the extended template
  EXPECT_EQ(reader.Word(), 0xFFFF);  // its signature
  EXPECT_EQ(reader.Dword(), 0u);     // help id
  EXPECT_EQ(reader.Dword(), DWORD{WS_EX_APPWINDOW | WS_EX_CLIENTEDGE});
  EXPECT_EQ(reader.Dword(), DWORD{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                  DS_MODALFRAME | DS_SETFONT});
  EXPECT_EQ(reader.Word(), 8);
  for (int edge = 0; edge < 4; ++edge) reader.Short();
  EXPECT_EQ(reader.NameOrOrdinal(), L"#129");
  // The resource compiler writes the class name in capitals; class names ignore case.
  EXPECT_EQ(
      CompareStringOrdinal(reader.NameOrOrdinal().c_str(), -1, L"" KARVEL_CLASS_NAME, -1, TRUE),
      CSTR_EQUAL);
  EXPECT_EQ(reader.NameOrOrdinal(), L"Karvel ver 2.10");
  EXPECT_EQ(reader.Word(), 9);  // points
  EXPECT_EQ(reader.Word(), 0);  // weight
  EXPECT_EQ(reader.Byte(), 0);  // italic
  EXPECT_EQ(reader.Byte(), 1);  // character set
  EXPECT_EQ(reader.NameOrOrdinal(), L"MS UI Gothic");
}

TEST(MainTemplate, ControlsInTemplateOrder) {
  const Control expected[] = {
      {IDC_STATIC, L"#130", L"&Target File", kLabel},
      {IDC_TARGET_FILE, L"#129", L"", kEdit},
      {IDC_STATIC, L"#130", L"&Passphrase", kLabel},
      {IDC_PASSPHRASE, L"#129", L"", kEdit | ES_PASSWORD},
      {IDC_STATIC, L"#130", L"&Output", kLabel},
      {IDC_OUTPUT, L"#129", L"", kEdit},
      {IDC_ENCODE, L"#128", L"&Encode", kButton},
      {IDC_DECODE, L"#128", L"&Decode", kButton},
  };
  const void* data = LoadJapaneseResource(RT_DIALOG, IDD_MAIN);
  ASSERT_NE(data, nullptr);
  TemplateReader reader(data);
  for (int skip = 0; skip < 12; ++skip) reader.Word();  // the fixed part up to the menu
  for (int name = 0; name < 3; ++name) reader.NameOrOrdinal();
  reader.Dword();  // points and weight
  reader.Word();   // italic and character set
  reader.NameOrOrdinal();
  for (const Control& want : expected) {
    reader.AlignToDword();
    Control got;
    reader.Dword();  // help id
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    got.style = reader.Dword();
    for (int edge = 0; edge < 4; ++edge) reader.Short();
    got.id = static_cast<int>(reader.Dword());
    got.windowClass = reader.NameOrOrdinal();
    got.text = reader.NameOrOrdinal();
    EXPECT_EQ(reader.Word(), 0) << "creation data";
    EXPECT_EQ(got, want);
  }
}

TEST(AboutTemplate, ClassicTemplateWithFullWidthFontName) {
  const void* data = LoadJapaneseResource(RT_DIALOG, IDD_ABOUT);
  ASSERT_NE(data, nullptr);
  TemplateReader reader(data);
  EXPECT_EQ(reader.Dword(), DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  EXPECT_EQ(reader.Dword(), 0u);
  EXPECT_EQ(reader.Word(), 5);
  for (int edge = 0; edge < 4; ++edge) reader.Short();
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"About Karvel");
  EXPECT_EQ(reader.Word(), 9);
  // "ＭＳ Ｐゴシック": full-width M, S and P, then katakana.
  EXPECT_EQ(reader.NameOrOrdinal(), L"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

  const Control expected[] = {
      {IDC_STATIC, L"#130", L"#101", kChild | SS_ICON},
      {IDC_STATIC, L"#130", L"karvel Version 2.10", kLabel | SS_NOPREFIX},
      {IDC_STATIC, L"#130", L"Copyright (C) 2026 tovik", kLabel},
      {IDOK, L"#128", L"OK", kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
      {IDC_STATIC, L"#130", L"\thttp://tovik.example/\n\ttovik@tovik.example", kLabel},
  };
  for (const Control& want : expected) {
    reader.AlignToDword();
    Control got;
    got.style = reader.Dword();
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    for (int edge = 0; edge < 4; ++edge) reader.Short();
    got.id = static_cast<short>(reader.Word());
    got.windowClass = reader.NameOrOrdinal();
    got.text = reader.NameOrOrdinal();
    EXPECT_EQ(reader.Word(), 0) << "creation data";
    EXPECT_EQ(got, want);
  }
}

TEST(ProgressTemplate, ClassicTemplateInTheAboutBoxStyle) {
  const void* data = LoadJapaneseResource(RT_DIALOG, IDD_PROGRESS);
  ASSERT_NE(data, nullptr);
  TemplateReader reader(data);
  EXPECT_EQ(reader.Dword(), DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  EXPECT_EQ(reader.Dword(), 0u);
  EXPECT_EQ(reader.Word(), 3);
  for (int edge = 0; edge < 4; ++edge) reader.Short();
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"karvel - working");
  EXPECT_EQ(reader.Word(), 9);
  EXPECT_EQ(reader.NameOrOrdinal(), L"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
  const int expectedIds[] = {IDC_PROGRESS_FILE, IDC_PROGRESS_BAR, IDCANCEL};
  for (int id : expectedIds) {
    reader.AlignToDword();
    reader.Dword();  // style
    reader.Dword();  // extended style
    for (int edge = 0; edge < 4; ++edge) reader.Short();
    EXPECT_EQ(static_cast<short>(reader.Word()), id);
    std::wstring windowClass = reader.NameOrOrdinal();
    if (id == IDC_PROGRESS_BAR) {
      EXPECT_EQ(CompareStringOrdinal(windowClass.c_str(), -1, L"msctls_progress32", -1, TRUE),
                CSTR_EQUAL);
    }
    reader.NameOrOrdinal();
    EXPECT_EQ(reader.Word(), 0) << "creation data";
  }
}

TEST(ConfirmTemplate, ClassicTemplateInTheAboutBoxStyleWithAMaskedBox) {
  const void* data = LoadJapaneseResource(RT_DIALOG, IDD_CONFIRM);
  ASSERT_NE(data, nullptr);
  TemplateReader reader(data);
  EXPECT_EQ(reader.Dword(), DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  EXPECT_EQ(reader.Dword(), 0u);
  EXPECT_EQ(reader.Word(), 4);
  for (int edge = 0; edge < 4; ++edge) reader.Short();
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"");
  EXPECT_EQ(reader.NameOrOrdinal(), L"karvel - encoding key");
  EXPECT_EQ(reader.Word(), 9);
  EXPECT_EQ(reader.NameOrOrdinal(), L"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
  const int expectedIds[] = {IDC_STATIC, IDC_CONFIRM_PASSPHRASE, IDOK, IDCANCEL};
  for (int id : expectedIds) {
    reader.AlignToDword();
    DWORD style = reader.Dword();
    reader.Dword();  // extended style
    for (int edge = 0; edge < 4; ++edge) reader.Short();
    EXPECT_EQ(static_cast<short>(reader.Word()), id);
    if (id == IDC_CONFIRM_PASSPHRASE) {
      EXPECT_TRUE(style & ES_PASSWORD) << "masked";
    }
    if (id == IDOK) {
      EXPECT_EQ(style & BS_TYPEMASK, DWORD{BS_DEFPUSHBUTTON}) << "Enter is OK";
    }
    reader.NameOrOrdinal();
    reader.NameOrOrdinal();
    EXPECT_EQ(reader.Word(), 0) << "creation data";
  }
}

// Current visual styles, no elevation, per-monitor DPI awareness and long paths.
TEST(Resources, ManifestAsksForCommonControls6AsInvokerPerMonitorDpiAndLongPaths) {
  HRSRC found =
      FindResourceExA(nullptr, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID, kJapanese);
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  std::string manifest(data, SizeofResource(nullptr, found));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
  // The manifest is included as it is: no macro reaches it.
  EXPECT_NE(manifest.find("<description>" KARVEL_CAPTION "</description>"), std::string::npos);
}

TEST(Resources, AllTaggedJapanese) {
  EXPECT_NE(LoadJapaneseResource(RT_DIALOG, IDD_MAIN), nullptr);
  EXPECT_NE(LoadJapaneseResource(RT_DIALOG, IDD_ABOUT), nullptr);
  EXPECT_NE(LoadJapaneseResource(RT_DIALOG, IDD_PROGRESS), nullptr);
  EXPECT_NE(LoadJapaneseResource(RT_MENU, IDR_MAINMENU), nullptr);
  EXPECT_NE(LoadJapaneseResource(RT_GROUP_ICON, IDI_MAIN), nullptr);
  EXPECT_NE(LoadJapaneseResource(RT_VERSION, VS_VERSION_INFO), nullptr);
}

// The window shows the string table's texts; the command line and the tests, the engine's.
TEST(Resources, EveryRefusalSaysWhatTheEngineSays) {
  for (int value = 0; value < 64; ++value) {
    const auto status = static_cast<JobStatus>(value);
    if (StatusText(status)[0] == '\0') continue;  // no status of that value
    char text[128] = "";
    EXPECT_GT(LoadStringA(GetModuleHandleA(nullptr), StatusTextId(status), text, sizeof text), 0)
        << value;
    EXPECT_STREQ(text, StatusText(status)) << value;
  }
}

TEST(Resources, IconIsOne32PixelImageIn16Colours) {
  const BYTE* group = static_cast<const BYTE*>(LoadJapaneseResource(RT_GROUP_ICON, IDI_MAIN));
  ASSERT_NE(group, nullptr);
  TemplateReader reader(group);
  EXPECT_EQ(reader.Word(), 0);
  EXPECT_EQ(reader.Word(), 1);  // icon
  EXPECT_EQ(reader.Word(), 1);  // one image
  EXPECT_EQ(reader.Byte(), 32);
  EXPECT_EQ(reader.Byte(), 32);
  EXPECT_EQ(reader.Byte(), 16);
  EXPECT_EQ(reader.Byte(), 0);
  EXPECT_EQ(reader.Word(), 1);  // planes
  EXPECT_EQ(reader.Word(), 4);  // bits per pixel
}

struct MenuEntry {
  int popup;
  int position;
  UINT id;  // 0 for a separator
  const char* text;
  UINT state;
};

TEST(Resources, MenuItemsInOrder) {
  const MenuEntry expected[] = {
      {0, 0, IDM_OPEN, "&open", MF_ENABLED},
      {0, 1, 0, "", MF_SEPARATOR},
      {0, 2, IDM_EXIT, "e&xit", MF_ENABLED},
      {1, 0, IDM_MASK_PASSPHRASE, "&mask passphrase", MF_CHECKED},
      {2, 0, IDM_VIEW_HELP, "&view help", MF_ENABLED},
      {2, 1, IDM_WEBSITE, "&visit tovik's web site", MF_ENABLED},
      {2, 2, 0, "", MF_SEPARATOR},
      {2, 3, IDM_ABOUT, "&about karvel...", MF_ENABLED},
  };
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  const char* popups[] = {"&file", "&option", "&help"};
  const int itemCounts[] = {3, 1, 4};
  for (int popup = 0; popup < 3; ++popup) {
    char text[64];
    GetMenuStringA(menu, popup, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, popups[popup]);
    bool grayed = (GetMenuState(menu, popup, MF_BYPOSITION) & MF_GRAYED) != 0;
    EXPECT_EQ(grayed, popup == 1) << popups[popup];
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, popup)), itemCounts[popup]);
  }
  for (const MenuEntry& entry : expected) {
    HMENU items = GetSubMenu(menu, entry.popup);
    SCOPED_TRACE(entry.text);
    EXPECT_EQ(GetMenuItemID(items, entry.position), entry.id);
    char text[64] = "";
    GetMenuStringA(items, entry.position, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, entry.text);
    UINT state = GetMenuState(items, entry.position, MF_BYPOSITION);
    UINT shown = entry.id == 0 ? MF_SEPARATOR : MF_SEPARATOR | MF_CHECKED | MF_GRAYED;
    EXPECT_EQ(state & shown, entry.state);
  }
  DestroyMenu(menu);
}

struct VersionString {
  const char* key;
  const char* value;
};

TEST(Resources, VersionBlock) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  DWORD size = GetFileVersionInfoSizeA(self, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(self, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, DWORD{VOS_NT_WINDOWS32});
  EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 1200);

  const VersionString expected[] = {
      {"Comments", ""},
      {"CompanyName", "tovik"},
      {"FileDescription", "Karvel ver 2.10"},
      {"FileVersion", "2.10"},
      {"InternalName", "karvel"},
      {"LegalCopyright", "Copyright(C)2026 tovik"},
      {"LegalTrademarks", ""},
      {"OriginalFilename", "karvel.exe"},
      {"PrivateBuild", ""},
      {"ProductName", "Karvel"},
      {"ProductVersion", "2.10"},
      {"SpecialBuild", ""},
  };
  for (const VersionString& entry : expected) {
    std::string key = std::string("\\StringFileInfo\\041104b0\\") + entry.key;
    char* value = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << entry.key;
    EXPECT_STREQ(length ? value : "", entry.value) << entry.key;
  }
}

std::string BoxText(HWND window, int id) {
  char text[512] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

// The main window as WinMain makes it, torn down again so the next test can register the class.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char settings[MAX_PATH];
    GetWindowsDirectoryA(settings, MAX_PATH);
    lstrcatA(settings, "\\karvel.ini");
    DeleteFileA(settings);  // the window opens at its default rectangle
    DeleteFileW(SettingsFilePath().c_str());
    window_ = StartMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window_, nullptr);
  }

  void TearDown() override {
    if (window_ != nullptr) DestroyWindow(window_);
    PumpMessages();  // takes the quit message the destroy posts
    UnregisterClassA(KARVEL_CLASS_NAME, GetModuleHandleA(nullptr));
  }

  void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      if (window_ != nullptr && IsDialogMessageA(window_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  HWND window_ = nullptr;
};

HDROP MakeDrop(const std::vector<std::string>& paths) {
  std::string list;
  for (const std::string& path : paths) list += path + '\0';
  list += '\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST_F(MainWindowTest, DropOfThreeFilesTakesTheFirstIntoBothBoxes) {
  SetDlgItemTextA(window_, IDC_PASSPHRASE, "kept");
  HDROP drop = MakeDrop({"C:\\one\\first.txt", "C:\\two\\second.txt", "C:\\three\\third.txt"});
  ASSERT_TRUE(PostMessageA(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0));
  PumpMessages();
  EXPECT_EQ(BoxText(window_, IDC_TARGET_FILE), "C:\\one\\first.txt");
  EXPECT_EQ(BoxText(window_, IDC_OUTPUT), "C:\\one\\first.txt");
  EXPECT_EQ(BoxText(window_, IDC_PASSPHRASE), "kept");
}

HDROP MakeWideDrop(const std::wstring& path) {
  std::wstring list = path + L'\0' + L'\0';
  size_t bytes = list.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), bytes);
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

std::wstring WideBoxText(HWND window, int id) {
  std::wstring text(GetWindowTextLengthW(GetDlgItem(window, id)) + 1, L'\0');
  GetDlgItemTextW(window, id, text.data(), static_cast<int>(text.size()));
  text.resize(text.size() - 1);
  return text;
}

std::string shownMessage;

void CALLBACK DismissMessageBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowA("#32770", "error");
  if (box == nullptr) return;
  char text[128] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  shownMessage = text;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Names no code page holds, and the longest path Windows takes, arrive whole;
// a longer one would arrive cut, naming another file, and is refused.
TEST_F(MainWindowTest, WideDropsArriveWholeOrAreRefused) {
  const std::wstring longest = L"C:\\" + std::wstring(kMaxPathUnits - 3, L'x');
  for (const std::wstring& path : {std::wstring(L"C:\\表ソ能十\\한국어😀.bin"), longest}) {
    ASSERT_TRUE(
        PostMessageW(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeWideDrop(path)), 0));
    PumpMessages();
    EXPECT_EQ(WideBoxText(window_, IDC_TARGET_FILE), path);
    EXPECT_EQ(WideBoxText(window_, IDC_OUTPUT), path);
  }
  SetDlgItemTextW(window_, IDC_TARGET_FILE, L"kept");
  SetDlgItemTextW(window_, IDC_OUTPUT, L"kept too");
  shownMessage.clear();
  UINT_PTR timer = SetTimer(nullptr, 0, 50, DismissMessageBox);
  ASSERT_TRUE(PostMessageW(window_, WM_DROPFILES,
                           reinterpret_cast<WPARAM>(MakeWideDrop(longest + L"y")), 0));
  PumpMessages();
  KillTimer(nullptr, timer);
  EXPECT_EQ(shownMessage, "file name too long");
  EXPECT_EQ(WideBoxText(window_, IDC_TARGET_FILE), L"kept");
  EXPECT_EQ(WideBoxText(window_, IDC_OUTPUT), L"kept too");
}

TEST_F(MainWindowTest, AcceptsDroppedFiles) {
  EXPECT_TRUE(GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

// With the fonts the display has, the fixed-size window must show every control and its text whole.
TEST_F(MainWindowTest, EveryControlAndItsTextFitInTheWindow) {
  RECT frame;
  GetWindowRect(window_, &frame);
  EXPECT_EQ(frame.right - frame.left, 350);
  EXPECT_EQ(frame.bottom - frame.top, 230);
  RECT client;
  GetClientRect(window_, &client);
  int controls = 0;
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    ++controls;
    char text[64] = "";
    GetWindowTextA(child, text, sizeof text);
    SCOPED_TRACE(std::string("control ") + std::to_string(GetDlgCtrlID(child)) + " " + text);
    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_GE(place.left, client.left);
    EXPECT_GE(place.top, client.top);
    EXPECT_LE(place.right, client.right);
    EXPECT_LE(place.bottom, client.bottom);
    if (text[0] == '\0') continue;
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)));
    RECT needed = {};
    DrawTextA(dc, text, -1, &needed, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    RECT inside;
    GetClientRect(child, &inside);
    EXPECT_LE(needed.right, inside.right);
    EXPECT_LE(needed.bottom, inside.bottom);
  }
  EXPECT_EQ(controls, 8);
}

// Messages posted one per timer tick to the About box while it runs its modal loop.
struct AboutStep {
  UINT message;
  WPARAM wParam;
};

struct AboutScript {
  const char* name;
  std::vector<AboutStep> steps;
  INT_PTR result;
};

const AboutScript* runningScript;
size_t nextStep;

void CALLBACK PlayAboutStep(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowA("#32770", "About Karvel");
  if (box == nullptr) return;
  if (nextStep < runningScript->steps.size()) {
    const AboutStep& step = runningScript->steps[nextStep++];
    PostMessageA(box, step.message, step.wParam, 0);
  } else {
    EndDialog(box, -1);  // the script did not close it: fail instead of hanging
  }
}

TEST_F(MainWindowTest, AboutBoxEndsOnlyByOkEnterOrClose) {
  const AboutScript scripts[] = {
      {"OK button", {{WM_COMMAND, IDOK}}, 1},
      {"Enter", {{WM_KEYDOWN, VK_RETURN}}, 1},
      {"Escape, then OK", {{WM_KEYDOWN, VK_ESCAPE}, {WM_COMMAND, IDOK}}, 1},
      {"cancel command, then OK", {{WM_COMMAND, IDCANCEL}, {WM_COMMAND, IDOK}}, 1},
      {"title-bar close", {{WM_SYSCOMMAND, SC_CLOSE}}, IDCANCEL},
      {"close message", {{WM_CLOSE, 0}}, IDCANCEL},
  };
  for (const AboutScript& script : scripts) {
    SCOPED_TRACE(script.name);
    runningScript = &script;
    nextStep = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, PlayAboutStep);
    INT_PTR result = ShowAboutBox(GetModuleHandleA(nullptr), window_);
    KillTimer(nullptr, timer);
    EXPECT_EQ(result, script.result);
    EXPECT_EQ(nextStep, script.steps.size());
    EXPECT_EQ(FindWindowA("#32770", "About Karvel"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(window_));
  }
}

struct HitTests {
  LRESULT caption;
  LRESULT closeButton;
};
HitTests aboutHits;

void CALLBACK HitTestAbout(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowA("#32770", "About Karvel");
  if (box == nullptr) return;
  RECT frame;
  GetWindowRect(box, &frame);
  int y = frame.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  int closeX = frame.right - GetSystemMetrics(SM_CXDLGFRAME) - GetSystemMetrics(SM_CXSIZE) / 2;
  aboutHits.caption = SendMessageA(box, WM_NCHITTEST, 0, MAKELPARAM(frame.left + 40, y));
  aboutHits.closeButton = SendMessageA(box, WM_NCHITTEST, 0, MAKELPARAM(closeX, y));
  EndDialog(box, IDOK);
}

// What the box's procedure does not handle it must leave to the dialog manager
// (FALSE), never answer itself: a default answer of its own is handled a second
// time by the dialog manager, and a title-bar drag then never ends.
TEST_F(MainWindowTest, AboutBoxLeavesWhatItDoesNotHandleToTheDialogManager) {
  RECT frame;
  GetWindowRect(window_, &frame);
  const LPARAM onCaption = MAKELPARAM(frame.left + 40, frame.top + 10);
  const struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } unhandled[] = {
      {WM_NCHITTEST, 0, onCaption},
      {WM_SETCURSOR, reinterpret_cast<WPARAM>(window_), MAKELPARAM(HTCAPTION, WM_MOUSEMOVE)},
      {WM_MOUSEMOVE, 0, MAKELPARAM(5, 5)},
      {WM_NCMOUSEMOVE, HTCAPTION, onCaption},
  };
  for (const auto& message : unhandled) {
    EXPECT_EQ(AboutDlgProc(window_, message.message, message.wParam, message.lParam), FALSE)
        << message.message;
  }
}

TEST_F(MainWindowTest, AboutBoxTitleBarAnswersTheMouse) {
  aboutHits = {};
  UINT_PTR timer = SetTimer(nullptr, 0, 50, HitTestAbout);
  ShowAboutBox(GetModuleHandleA(nullptr), window_);
  KillTimer(nullptr, timer);
  EXPECT_EQ(aboutHits.caption, HTCAPTION);
  EXPECT_EQ(aboutHits.closeButton, HTCLOSE);
}

}  // namespace
}  // namespace karvel
