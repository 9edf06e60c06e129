// Opens .html in the tests' Wine prefix (scripts/wine-env.sh) in place of a browser, which would
// outlive the test and keep ctest's output open: it starts nothing and only writes each argument
// it was given, one a line in UTF-8, to the file KARVEL_HELP_LOG names.
#include <windows.h>
// Builds on the types of windows.h.
#include <shellapi.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t log[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"KARVEL_HELP_LOG", log, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return 1;
  std::string text;
  for (int i = 1; i < count; ++i) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, &argument[0], bytes, nullptr, nullptr);
    argument.pop_back();
    text += argument + "\n";
  }
  LocalFree(arguments);
  // Written whole under another name first: the test reads the log as soon as it is there.
  std::wstring part = std::wstring(log) + L".part";
  HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  bool whole = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
  CloseHandle(file);
  return whole && MoveFileExW(part.c_str(), log, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
