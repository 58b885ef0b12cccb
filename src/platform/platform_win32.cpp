// Windows implementation of the platform layer. Everything is UTF-8 on our
// side and UTF-16 at the system's; the conversions and quoting live in
// win_text so they are tested on every platform.
#include "platform/platform.hpp"

#include "platform/win_text.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>

namespace ruvo::platform {
namespace {

std::wstring wide(std::string_view utf8) {
  const std::u16string units = win::utf8_to_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text, std::size_t length) {
  return win::utf16_to_utf8(std::u16string(text, text + length));
}

// The system's message for an error code, English where the system has it.
Error system_error(DWORD code) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t buffer[1024];
  DWORD length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer,
                                static_cast<DWORD>(std::size(buffer)), nullptr);
  if (length == 0) {
    length = FormatMessageW(flags, nullptr, code, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  }
  const int number = static_cast<int>(code);
  if (length != 0) return Error{win::one_line_message(narrow(buffer, length)), number};
  return Error{win::socket_error_text(number).value_or("unknown error"), number};
}

Error last_error() { return system_error(GetLastError()); }
Error last_socket_error() { return system_error(static_cast<DWORD>(WSAGetLastError())); }

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

bool write_console(HANDLE handle, std::u16string_view units) {
  while (!units.empty()) {
    // Consoles have refused very large single writes; keep pieces modest and
    // never cut between the halves of a surrogate pair.
    std::size_t count = std::min<std::size_t>(units.size(), 8192);
    if (count < units.size() && units[count - 1] >= 0xD800 && units[count - 1] <= 0xDBFF) --count;
    const std::wstring piece(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(count));
    DWORD written = 0;
    if (!WriteConsoleW(handle, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr) || written == 0) {
      return false;
    }
    units.remove_prefix(std::min<std::size_t>(written, count));
  }
  return true;
}

bool write_bytes(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Each console stream keeps its own converter, so a character cut between
// two writes to stdout is not completed by bytes written to stderr.
bool write_stream(DWORD which, win::Utf8ToUtf16Stream& converter, std::string_view bytes) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  if (is_console(handle)) return write_console(handle, converter.feed(bytes));
  return write_bytes(handle, bytes);
}

// What the console has delivered but the caller has not taken yet.
struct ConsoleInput {
  win::ConsoleInputDecoder decoder;
  std::string ready;
  std::size_t taken = 0;
  bool ended = false;
};

Result<std::size_t> read_console(HANDLE handle, char* buffer, std::size_t capacity) {
  static ConsoleInput input;
  while (input.taken == input.ready.size()) {
    if (input.ended) return std::size_t{0};
    wchar_t units[4096];
    DWORD count = 0;
    if (!ReadConsoleW(handle, units, static_cast<DWORD>(std::size(units)), &count, nullptr)) return last_error();
    // Nothing read (an interrupted read) is taken as the end, as the C
    // runtime does.
    if (count == 0) input.ended = true;
    input.ready = input.decoder.feed(std::u16string(units, units + count));
    input.taken = 0;
    if (input.decoder.ended()) input.ended = true;
  }
  const std::size_t n = std::min(capacity, input.ready.size() - input.taken);
  std::copy_n(input.ready.data() + input.taken, n, buffer);
  input.taken += n;
  return n;
}

// The current environment as "NAME=value" entries.
std::vector<std::u16string> current_environment() {
  std::vector<std::u16string> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return entries;
  for (const wchar_t* entry = block; *entry != L'\0';) {
    const std::size_t length = wcslen(entry);
    entries.emplace_back(entry, entry + length);
    entry += length + 1;
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

}  // namespace

void init_process() {
  // Without Winsock every socket call fails; that failure then surfaces as
  // the error of the first connect, so the outcome is not checked here.
  WSADATA data;
  (void)WSAStartup(MAKEWORD(2, 2), &data);
}

std::vector<std::string> command_line_words(int /*argc*/, char** /*argv*/) {
  // argv went through the ANSI code page; the wide command line is exact.
  std::vector<std::string> words;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return words;
  for (int i = 1; i < count; ++i) words.push_back(narrow(argv[i], wcslen(argv[i])));
  LocalFree(argv);
  return words;
}

bool write_stdout(std::string_view bytes) {
  static win::Utf8ToUtf16Stream converter;
  return write_stream(STD_OUTPUT_HANDLE, converter, bytes);
}

bool stdout_is_terminal() { return is_console(GetStdHandle(STD_OUTPUT_HANDLE)); }
bool stderr_is_terminal() { return is_console(GetStdHandle(STD_ERROR_HANDLE)); }

bool write_stderr(std::string_view bytes) {
  static win::Utf8ToUtf16Stream converter;
  return write_stream(STD_ERROR_HANDLE, converter, bytes);
}

Result<std::size_t> read_stdin(char* buffer, std::size_t capacity) {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  // A process started without standard input reads it as empty.
  if (handle == nullptr) return std::size_t{0};
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  if (capacity == 0) return std::size_t{0};
  if (is_console(handle)) return read_console(handle, buffer, capacity);
  DWORD count = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
  if (!ReadFile(handle, buffer, chunk, &count, nullptr)) {
    const DWORD code = GetLastError();
    // The writer closing its end of a pipe is how a pipe ends.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return std::size_t{0};
    return system_error(code);
  }
  return static_cast<std::size_t>(count);
}

std::optional<std::string> get_env(const std::string& name) {
  const std::wstring wname = wide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // On success n is the length; when the buffer is too small it is the
    // size needed, terminator included.
    if (n < value.size()) return narrow(value.data(), n);
    value.resize(n);
  }
}

Result<std::string> own_executable_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return last_error();
    // A full buffer means the path was cut.
    if (n < buffer.size()) return narrow(buffer.data(), n);
    if (buffer.size() >= 65536) return system_error(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> parent_folder(const std::string& path) { return win::parent_folder(path); }

char path_separator() { return '\\'; }

bool is_regular_file(const std::string& path) {
  // Opening the entry follows links; FILE_FLAG_BACKUP_SEMANTICS lets a
  // folder be opened too, so that it can be told apart.
  const HANDLE handle = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

bool file_identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE handle = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return ok;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  if (!file_identity(a, ia) || !file_identity(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

Result<void> create_folders(const std::string& path) {
  if (path.empty()) return common::failure("no folder to create");
  const std::wstring wpath = wide(path);
  const DWORD attributes = GetFileAttributesW(wpath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
    return common::failure(path + " is not a folder");
  }
  // A parent that cannot be made leaves the call below to fail and say why.
  if (const auto parent = parent_folder(path); parent && *parent != path) (void)create_folders(*parent);
  if (CreateDirectoryW(wpath.c_str(), nullptr)) return {};
  const DWORD code = GetLastError();
  // Someone else may have made it in the meantime.
  const DWORD now = GetFileAttributesW(wpath.c_str());
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  Error error = system_error(code);
  error.message = "create folder " + path + ": " + error.message;
  return error;
}

Result<std::string> read_file(const std::string& path) {
  // The desktop application may be rewriting the file; share every access.
  const HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Error error = last_error();
    error.message = "open " + path + ": " + error.message;
    return error;
  }
  std::string content;
  char buffer[8192];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &n, nullptr)) {
      Error error = last_error();
      CloseHandle(handle);
      error.message = "read " + path + ": " + error.message;
      return error;
    }
    if (n == 0) break;
    content.append(buffer, n);
  }
  CloseHandle(handle);
  return content;
}

Result<std::string> app_data_folder() {
  if (auto appdata = get_env("APPDATA"); appdata && !appdata->empty()) return *appdata;
  return common::failure("no application-data folder");
}

Result<void> start_process(const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::pair<std::string, std::string>>& extra_env) {
  const std::wstring application = wide(program);
  std::wstring command_line = wide(win::build_command_line(program, args));

  // With no variable to add, the child simply inherits our environment.
  std::wstring environment;
  DWORD flags = 0;
  if (!extra_env.empty()) {
    std::vector<std::pair<std::u16string, std::u16string>> extra;
    for (const auto& [name, value] : extra_env) extra.emplace_back(win::utf8_to_utf16(name), win::utf8_to_utf16(value));
    const std::u16string block = win::environment_block(current_environment(), extra);
    environment.assign(block.begin(), block.end());
    // A wide block must be announced as such.
    flags = CREATE_UNICODE_ENVIRONMENT;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                      environment.empty() ? nullptr : environment.data(), nullptr, &startup, &info)) {
    return last_error();
  }
  // The started program is not ours to watch.
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return {};
}

void sleep_ms(int milliseconds) { Sleep(static_cast<DWORD>(std::max(milliseconds, 0))); }

void exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }

// ---- TcpStream ----

TcpStream::TcpStream(TcpStream&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

TcpStream::~TcpStream() { close(); }

void TcpStream::close() {
  if (handle_ != -1) {
    closesocket(static_cast<SOCKET>(handle_));
    handle_ = -1;
  }
}

Result<TcpStream> TcpStream::connect_loopback(std::uint16_t port, int timeout_ms) {
  // SO_RCVTIMEO and SO_SNDTIMEO only take effect on overlapped sockets; the
  // socket is kept from started programs like a close-on-exec descriptor.
  const SOCKET sock = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (sock == INVALID_SOCKET) return last_socket_error();
  TcpStream stream(static_cast<std::intptr_t>(sock));

  u_long non_blocking = 1;
  if (ioctlsocket(sock, FIONBIO, &non_blocking) != 0) return last_socket_error();

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return last_socket_error();
    if (timeout_ms <= 0) return Error{"connection timed out", 0};
    // Windows reports a refused connect as an exception, not as writable.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, &writable);
    FD_SET(sock, &failed);
    timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) return last_socket_error();
    if (ready == 0) return Error{"connection timed out", 0};
    int so_error = 0;
    int length = sizeof so_error;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &length) != 0) {
      return last_socket_error();
    }
    if (so_error != 0) return system_error(static_cast<DWORD>(so_error));
    if (!FD_ISSET(sock, &writable)) return Error{"connection failed", 0};
  }

  u_long blocking = 0;
  if (ioctlsocket(sock, FIONBIO, &blocking) != 0) return last_socket_error();
  return stream;
}

void TcpStream::set_timeouts(int read_ms, int write_ms) {
  const SOCKET sock = static_cast<SOCKET>(handle_);
  const DWORD read_timeout = static_cast<DWORD>(std::max(read_ms, 0));
  const DWORD write_timeout = static_cast<DWORD>(std::max(write_ms, 0));
  (void)setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&read_timeout), sizeof read_timeout);
  (void)setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&write_timeout), sizeof write_timeout);
}

void TcpStream::set_read_timeout(int read_ms) {
  const DWORD read_timeout = static_cast<DWORD>(std::max(read_ms, 1));
  (void)setsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&read_timeout),
                   sizeof read_timeout);
}

// A socket read whose time-out expires fails with WSAETIMEDOUT.
Error TcpStream::read_timed_out() { return system_error(WSAETIMEDOUT); }

Result<void> TcpStream::write_all(std::string_view bytes) {
  const SOCKET sock = static_cast<SOCKET>(handle_);
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int n = send(sock, bytes.data(), chunk, 0);
    if (n == SOCKET_ERROR) return last_socket_error();
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Result<std::size_t> TcpStream::read_some(char* buffer, std::size_t capacity) {
  const int chunk = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
  const int n = recv(static_cast<SOCKET>(handle_), buffer, chunk, 0);
  if (n == SOCKET_ERROR) return last_socket_error();
  return static_cast<std::size_t>(n);
}

// select, not a receive time-out: a recv that times out leaves a Winsock
// socket in an undefined state.
Result<bool> TcpStream::wait_readable(int timeout_ms) {
  const SOCKET sock = static_cast<SOCKET>(handle_);
  fd_set readable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  FD_SET(sock, &readable);
  FD_SET(sock, &failed);
  timeout_ms = std::max(timeout_ms, 0);
  timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int ready = select(0, &readable, nullptr, &failed, &wait);
  if (ready == SOCKET_ERROR) return last_socket_error();
  return ready > 0;
}

}  // namespace ruvo::platform
