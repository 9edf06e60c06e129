#include "ui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include "res/resource.h"
#include "ui/about_box.h"
#include "ui/file_selection.h"
#include "ui/placement.h"
#include "ui/transform_commands.h"

namespace karvel {

namespace {

constexpr char kClassName[] = "Karvel ver2.1x";
constexpr char kWebsite[] = "http://tovik.example/";
constexpr char kHelpPage[] = "./help.html";

HINSTANCE appInstance;  // for the About box template

void OnOpen(HWND window) { ChooseTargetFile(window); }
void OnExit(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }
void OnWebsite(HWND) { ShellExecuteA(nullptr, "open", kWebsite, nullptr, nullptr, SW_SHOWNORMAL); }
void OnViewHelp(HWND) {
  ShellExecuteA(nullptr, "open", kHelpPage, nullptr, nullptr, SW_SHOWNORMAL);
}
void OnAbout(HWND window) { ShowAboutBox(appInstance, window); }

struct CommandHandler {
  WORD id;
  void (*handle)(HWND window);
  bool duringTransform;  // whether it runs while a transform does
};

// Any other command, IDOK and IDCANCEL from the dialog keyboard handling included, is ignored.
constexpr CommandHandler kCommands[] = {
    {IDC_ENCODE, EncodeCommand, false}, {IDC_DECODE, DecodeCommand, false},
    {IDM_OPEN, OnOpen, false},          {IDM_EXIT, OnExit, true},
    {IDM_WEBSITE, OnWebsite, false},    {IDM_VIEW_HELP, OnViewHelp, false},
    {IDM_ABOUT, OnAbout, false},
};

void OnCommand(HWND window, WORD id) {
  for (const CommandHandler& command : kCommands) {
    if (command.id == id) {
      if (command.duringTransform || !TransformRunning()) command.handle(window);
      return;
    }
  }
}

// The boxes take no input while a transform runs.
void OnDropFiles(HWND window, HDROP drop) {
  if (TransformRunning()) {
    DragFinish(drop);
    return;
  }
  TakeDroppedFile(window, drop);
}

void OnInitDialog(HWND window) {
  DragAcceptFiles(window, TRUE);
  RestorePlacement(window);
}

// The window is never destroyed: the loop ends and the process exits with it. A running
// transform is stopped first, so that no temporary file outlives the program.
void OnClose(HWND window) {
  CancelTransform(window);
  SavePlacement(window);
  PostMessageA(window, WM_DESTROY, 0, 0);
}

void OnDestroy() { PostQuitMessage(0); }

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

HWND StartMainWindow(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  if (!RegisterMainWindowClass(instance)) return nullptr;
  appInstance = instance;
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWndProc, 0);
}

int RunMessageLoop(HWND mainWindow) {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0)) {
    if (IsDialogMessageA(mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window);
      return 0;
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_TIMER:
      OnTransformTimer(window, wParam);
      return 0;
    case kTransformDoneMessage:
      OnTransformDone(window);
      return 0;
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace karvel
