// Lean, without the min and max macros: see app/CMakeLists.txt.
#include <windows.h>
// After <windows.h>.
#include <shellapi.h>

#include <memory>

#include "ProgramStart.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

std::wstring Utf16(const std::string& text) {
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring utf16(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf16.data(), size);
  return utf16;
}

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void WriteAll(HANDLE handle, const std::string& bytes) {
  DWORD written = 0;
  for (std::size_t done = 0; done < bytes.size(); done += written)
    if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                     nullptr) ||
        written == 0)
      return;
}

// The title Windows gives a program's own boxes, and the window's error report too: the
// program's file name without its extension.
std::wstring ProgramTitle() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = 0;
  // A full buffer may have cut the path short (a folder deeper than MAX_PATH): try a larger one.
  while ((length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) ==
         path.size())
    path.resize(path.size() * 2);
  path.resize(length);
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  return name.substr(0, name.rfind(L'.'));
}

void ShowInMessageBox(const std::string& text, bool isError) {
  ::MessageBoxW(nullptr, Utf16(text).c_str(), ProgramTitle().c_str(),
                MB_OK | MB_SETFOREGROUND | (isError ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

// argv holds the command line in the system's 8-bit code page, which cannot hold every name
// (a port or log file named in another script): the wide command line can.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide.get()[i]));
  return arguments;
}

void ShowCommandLineOutput(const std::string& text, bool isError) {
  const DWORD which = isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  // Redirected to a file or a pipe: the bytes go there as they are.
  if (const HANDLE handed = ::GetStdHandle(which);
      Usable(handed) && ::GetFileType(handed) != FILE_TYPE_CHAR) {
    WriteAll(handed, text);
    return;
  }
  // Started from a shortcut or Explorer, there is no console to attach to.
  if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) {
    ShowInMessageBox(text, isError);
    return;
  }
  // A console shows UTF-16 text whatever its code page.
  const HANDLE console =
      ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    ShowInMessageBox(text, isError);
    return;
  }
  const std::wstring wide = Utf16(text);
  DWORD written = 0;
  ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  ::CloseHandle(console);
}
