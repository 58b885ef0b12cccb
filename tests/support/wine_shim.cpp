// Runs a Windows program under Wine for the end-to-end tests:
//   wine64 wine_shim.exe <program> [args...]
// The tests give every run an application-data folder of its own through
// APPDATA, but Wine sets APPDATA inside every Windows program to the prefix's
// own folder, whatever the Unix environment holds. A Windows parent does pass
// its APPDATA on to the programs it starts, so this shim takes the folder from
// RUVO_WINE_APPDATA (which the test runner exports beside APPDATA when it uses
// a launcher), sets it as APPDATA in Windows form, and starts the program with
// the remaining arguments, quoted by the Windows rules. The program inherits
// the standard handles; the shim waits for it and exits with its exit code.
//
// Unix paths ("/tmp/x") become paths on drive Z:, which Wine maps to the Unix
// root ("Z:\tmp\x"); other values are used as they are.
//
// Built with mingw-w64 by scripts/test-windows.sh, together with
// src/platform/win_text.cpp and src/common/utf8.cpp.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_text.hpp"

namespace {

namespace win = ruvo::platform::win;

// Exit codes of the shim's own failures, kept apart from ruvo's 0, 1 and 2.
constexpr int kUsageExit = 120;
constexpr int kStartExit = 121;
constexpr int kWaitExit = 122;

std::wstring wide(std::string_view utf8) {
  const std::u16string units = win::utf8_to_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string narrow(std::wstring_view units) {
  return win::utf16_to_utf8(std::u16string(units.begin(), units.end()));
}

// "/tmp/x y" -> "Z:\tmp\x y"; anything not starting with '/' is unchanged.
std::string dos_path(std::string path) {
  if (path.empty() || path.front() != '/') return path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

void note(std::string_view text) {
  const std::string line = "wine_shim: " + std::string(text) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// The value of an environment variable; nothing when it is not set.
bool get_env(const wchar_t* name, std::wstring& value) {
  value.assign(1024, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    if (n < value.size()) {
      value.resize(n);
      return true;
    }
    value.assign(n, L'\0');
  }
}

// APPDATA from RUVO_WINE_APPDATA, which is then removed so that the program
// under test sees the same environment names as natively.
void take_app_data() {
  std::wstring unix_value;
  if (!get_env(L"RUVO_WINE_APPDATA", unix_value)) return;
  SetEnvironmentVariableW(L"APPDATA", wide(dos_path(narrow(unix_value))).c_str());
  SetEnvironmentVariableW(L"RUVO_WINE_APPDATA", nullptr);
}

}  // namespace

int main() {
  const std::vector<std::string> words = win::split_command_line(narrow(GetCommandLineW()));
  if (words.size() < 2) {
    note("usage: wine_shim.exe <program> [args...]");
    return kUsageExit;
  }
  take_app_data();

  const std::string program = dos_path(words[1]);
  const std::vector<std::string> args(words.begin() + 2, words.end());
  const std::wstring application = wide(program);
  std::wstring command_line = wide(win::build_command_line(program, args));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  // Wine now and then fails to start a program with ERROR_INTERNAL_ERROR
  // when the machine is busy (seen where a hard link beside the program
  // differs from its name only in letter case); nothing of the program has
  // run then, so trying again cannot hide a fault of it.
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
      break;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
      note("cannot start " + program + " (error " + std::to_string(error) + ")");
      return kStartExit;
    }
    Sleep(200);
  }
  CloseHandle(info.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(info.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(info.hProcess, &code)) {
    note("cannot wait for " + program + " (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(info.hProcess);
    return kWaitExit;
  }
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}
