// --export and --import on the store of the application-data folder.
#include "commands/export_import.hpp"

#include "commands/folder_store.hpp"

#include "answers/import_export.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "platform/user_files.hpp"
#include "store/store.hpp"
#include "store/term_file.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace ruvo::desktop::commands {

namespace {

int fail(const std::string& message) {
  platform::write_stderr("ruvo-gui.exe：" + message + "\n");
  return 1;
}

// Writes every piece of the export to `write`; how many entries went.
common::Result<std::size_t> write_pieces(store::TermStore& store,
                                         const std::function<common::Result<void>(std::string_view)>& write) {
  auto cursor = store.open_export();
  if (!cursor) return cursor.error();
  answers::ExportPieces pieces(std::move(cursor).value());
  for (;;) {
    auto piece = pieces.next();
    if (!piece) return piece.error();
    if (piece->empty()) return pieces.entries();
    if (auto written = write(*piece); !written) return written.error();
  }
}

std::string mib(std::size_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MiB"; }

// What --import reads: standard input for "-", else a regular file; at most
// the limit an import through the service has, either way.
common::Result<std::string> read_import(const std::string& path) {
  const std::size_t limit = answers::kMaxImportBytes;
  if (path == "-") {
    std::string text;
    std::string buffer(64 * 1024, '\0');
    for (;;) {
      auto got = platform::read_stdin(buffer.data(), buffer.size());
      if (!got) return common::failure("读不了标准输入：" + got.error().text());
      if (*got == 0) return text;
      if (text.size() + *got > limit) return common::failure("标准输入超过 " + mib(limit) + "，什么都没有导入");
      text.append(buffer.data(), *got);
    }
  }
  auto read = platform::read_regular_file(path, limit);
  if (!read) return common::failure("读不了 " + path + "：" + read.error().text());
  if (read->not_regular) return common::failure(path + " 不是普通文件（要导入标准输入请写 -），什么都没有导入");
  if (read->too_large) return common::failure(path + " 超过 " + mib(limit) + "，什么都没有导入");
  return std::move(read->content);
}

}  // namespace

int run_export(const std::string& target) {
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  const bool to_stdout = target == "-";
  if (!to_stdout) {
    // Only a regular file is replaced (a link there is replaced itself, not
    // followed); a pipe, a device or a folder is refused before anything is
    // written beside it.
    auto kind = platform::path_kind(target);
    if (!kind) return fail("无法写 " + target + "：" + kind.error().text());
    if (*kind == platform::PathKind::kFolder) return fail(target + " 是文件夹，不能导出到这里");
    if (*kind == platform::PathKind::kOther) return fail(target + " 不是普通文件（要导出到标准输出请写 -）");
  }
  const std::string temp = target + ".part";
  std::optional<platform::AppendFile> file;
  if (!to_stdout) {
    // A part left by an export that was cut off must not be appended to.
    auto removed = platform::remove_file(temp);
    auto made = platform::AppendFile::open(temp);
    if (!made) return fail("无法写 " + temp + "：" + made.error().text());
    if (!removed) return fail("无法写 " + temp + "：" + removed.error().text());
    file = std::move(made).value();
  }
  auto exported = write_pieces(**opened, [&](std::string_view piece) -> common::Result<void> {
    if (to_stdout ? platform::write_stdout(piece) : file->append(piece)) return {};
    return common::failure(to_stdout ? std::string("无法写标准输出") : "无法写 " + temp);
  });
  if (!exported) {
    // What is left is no export; one that cannot be removed changes nothing
    // in what is reported.
    if (!to_stdout) (void)platform::remove_file(temp);
    return fail("导出失败：" + exported.error().text());
  }
  if (!to_stdout) {
    file.reset();
    if (!platform::rename_file(temp, target)) {
      (void)platform::remove_file(temp);
      return fail("无法把 " + temp + " 改名为 " + target);
    }
    platform::write_stdout("导出 " + std::to_string(*exported) + " 条到 " + target + "\n");
  }
  return 0;
}

int run_import(const std::string& path, const std::string& format_name) {
  store::TermFileFormat format = store::format_of_path(path);
  if (!format_name.empty()) {
    auto named = answers::file_format(format_name);
    if (!named) return fail(named.error().text());
    format = *named;
  }
  auto text = read_import(path);
  if (!text) return fail(text.error().text());
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  // Each record goes into the transaction as it is read, so a file of a
  // million lines is never held twice; a malformed line rolls it all back.
  auto imported = (*opened)->import_file(*text, format);
  if (!imported && imported.error().kind == common::ErrorKind::kBadImport) {
    return fail(path + " " + imported.error().text() + "；什么都没有导入");
  }
  if (!imported) return fail("导入失败，什么都没有改：" + imported.error().text());
  const std::size_t records = imported->added + imported->updated + imported->kept;
  platform::write_stdout("导入 " + std::to_string(records) + " 条：新增 " + std::to_string(imported->added) +
                         "，更新 " + std::to_string(imported->updated) + "，保留 " + std::to_string(imported->kept) +
                         "\n");
  return 0;
}

}  // namespace ruvo::desktop::commands
