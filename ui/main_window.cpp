#include "ui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "res/resource.h"
#include "res/version.h"
#include "ui/about_box.h"
#include "ui/file_selection.h"
#include "ui/messages.h"
#include "ui/placement.h"
#include "ui/program_folder.h"
#include "ui/transform.h"

namespace karvel {

namespace {

constexpr wchar_t kClassName[] = L"" KARVEL_CLASS_NAME;
constexpr wchar_t kWebsite[] = L"http://tovik.example/";
constexpr wchar_t kHelpPage[] = L"./help.html";
constexpr wchar_t kHelpName[] = L"help.html";

// The window is never destroyed while the program runs: its transform lives as long as it.
Transform& TransformOf(HWND window) {
  return *reinterpret_cast<Transform*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// ShellExecute reports success by a result above 32.
bool OpenInShell(const wchar_t* file) {
  auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", file, nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void OnOpen(HWND window) { ChooseTargetFile(window); }
void OnExit(HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }

void OnWebsite(HWND window) {
  if (!OpenInShell(kWebsite)) {
    ShowMessage(window, IDS_WEBSITE_FAILED, IDS_ERROR, IDC_TARGET_FILE);
  }
}

// A shortcut's "Start in" or a start from another folder leaves the help page
// out of the current directory; the copy beside the program is found then.
void OnViewHelp(HWND window) {
  const std::wstring besideProgram = ProgramFolderFile(kHelpName);
  const wchar_t* page = nullptr;
  if (IsFile(kHelpPage)) {
    page = kHelpPage;
  } else if (!besideProgram.empty() && IsFile(besideProgram.c_str())) {
    page = besideProgram.c_str();
  }
  if (page == nullptr || !OpenInShell(page)) {
    ShowMessage(window, IDS_HELP_FAILED, IDS_ERROR, IDC_TARGET_FILE);
  }
}

void OnAbout(HWND window) {
  ShowAboutBox(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), window);
}
void OnEncode(HWND window) { TransformOf(window).Encode(); }
void OnDecode(HWND window) { TransformOf(window).Decode(); }

struct CommandHandler {
  WORD id;
  void (*handle)(HWND window);
  bool duringTransform;  // whether it runs while a transform does
};

// Any other command, IDOK and IDCANCEL from the dialog keyboard handling included, is ignored.
constexpr CommandHandler kCommands[] = {
    {IDC_ENCODE, OnEncode, false},   {IDC_DECODE, OnDecode, false},
    {IDM_OPEN, OnOpen, false},       {IDM_EXIT, OnExit, true},
    {IDM_WEBSITE, OnWebsite, false}, {IDM_VIEW_HELP, OnViewHelp, false},
    {IDM_ABOUT, OnAbout, false},
};

void OnCommand(HWND window, WORD id) {
  for (const CommandHandler& command : kCommands) {
    if (command.id == id) {
      if (command.duringTransform || !TransformOf(window).Running()) command.handle(window);
      return;
    }
  }
}

// The boxes take no input while a transform runs.
void OnDropFiles(HWND window, HDROP drop) {
  if (TransformOf(window).Running()) {
    DragFinish(drop);
    return;
  }
  TakeDroppedFile(window, drop);
}

// The window is never destroyed: the loop ends and the process exits with it. A running
// transform is cancelled first and the close comes again once it has stopped, so that
// no temporary file outlives the program and the window answers meanwhile.
void OnClose(HWND window) {
  if (!TransformOf(window).CloseWhenIdle()) return;
  SavePlacement(window);
  PostMessageW(window, WM_DESTROY, 0, 0);
}

void OnDestroy() { PostQuitMessage(0); }

// The whole template was laid out for the DPI the window had when it was
// made; the rectangle Windows suggests keeps it on the new monitor at its scale.
void OnDpiChanged(HWND window, const RECT& suggested) {
  SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The class procedure may not be the dialog procedure as well: the dialog
// manager calls the dialog procedure from DefDlgProc, which the class
// procedure calls. Returning TRUE puts the keyboard in the first tab stop.
INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Transform(window)));
      DragAcceptFiles(window, TRUE);
      RestorePlacement(window);
      return TRUE;
    default:
      return FALSE;
  }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExW(&windowClass) != 0;
}

}  // namespace

HWND StartMainWindow(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  if (!RegisterMainWindowClass(instance)) return nullptr;
  return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0);
}

int RunMessageLoop(HWND mainWindow) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_TIMER:
      TransformOf(window).OnTimer(wParam);
      return 0;
    case kTransformDoneMessage:
      TransformOf(window).OnDone();
      return 0;
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_NCDESTROY:
      delete &TransformOf(window);  // a test's DestroyWindow: the program itself never gets here
      return DefDlgProcW(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
      TransformOf(window).OnQueryEndSession();
      return TRUE;
    case WM_ENDSESSION:
      TransformOf(window).OnEndSession(wParam != FALSE);
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(window, *reinterpret_cast<const RECT*>(lParam));
      return 0;
    default:
      return DefDlgProcW(window, message, wParam, lParam);
  }
}

}  // namespace karvel
