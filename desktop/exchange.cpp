#include "exchange.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "service.hpp"
#include "store/glossary.hpp"
#include "store/store.hpp"
#include "store/term_file.hpp"

#include <memory>

namespace ruvo::desktop {

using namespace store;

namespace {

int fail(const std::string& message) {
  platform::write_stderr("ruvo-gui.exe：" + message + "\n");
  return 1;
}

// The store of the application-data folder, made as the service would make
// it (with the starter glossary) when there is none yet.
Result<std::unique_ptr<TermStore>> open_folder_store() {
  auto folder = data_folder();
  if (!folder) return common::failure("找不到应用数据目录（APPDATA、XDG_CONFIG_HOME 和 HOME 都没有设置）");
  if (!platform::create_folders(*folder)) return common::failure("无法创建目录 " + *folder);
  auto seed = parse_glossary(embedded_glossary());
  return TermStore::open(platform::join_path(*folder, kStoreFileName),
                         seed ? std::move(seed).value() : std::vector<TermDraft>{});
}

}  // namespace

int run_export(const std::string& target) {
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  auto& store = **opened;
  const bool to_stdout = target == "-";
  const std::string temp = target + ".part";
  std::optional<platform::AppendFile> file;
  if (!to_stdout) {
    (void)platform::remove_file(temp);
    auto made = platform::AppendFile::open(temp);
    if (!made) return fail("无法写 " + temp + "：" + made.error().text());
    file = std::move(made).value();
  }
  std::size_t count = 0;
  std::string chunk;
  auto flush = [&]() -> Result<void> {
    bool written = to_stdout ? platform::write_stdout(chunk) : file->append(chunk);
    chunk.clear();
    if (!written) return common::failure(to_stdout ? std::string("无法写标准输出") : "无法写 " + temp);
    return {};
  };
  auto exported = store.export_records([&](const TermRecord& record) -> Result<void> {
    chunk += to_json_line(record);
    chunk += '\n';
    ++count;
    if (chunk.size() >= 64 * 1024) return flush();
    return {};
  });
  if (exported && !chunk.empty()) exported = flush();
  if (!exported) {
    if (!to_stdout) (void)platform::remove_file(temp);
    return fail("导出失败：" + exported.error().text());
  }
  if (!to_stdout) {
    file.reset();
    if (!platform::rename_file(temp, target)) {
      (void)platform::remove_file(temp);
      return fail("无法把 " + temp + " 改名为 " + target);
    }
    platform::write_stdout("导出 " + std::to_string(count) + " 条到 " + target + "\n");
  }
  return 0;
}

int run_import(const std::string& path, const std::string& format_name) {
  TermFileFormat format = format_of_path(path);
  if (!format_name.empty()) {
    auto named = term_file_format(format_name);
    if (!named) return fail("不认识的格式「" + format_name + "」，可选：jsonl、csv、tsv");
    format = *named;
  }
  auto text = platform::read_file(path);
  if (!text) return fail("读不了 " + path);
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  // Each record goes into the transaction as it is read, so a file of a
  // million lines is never held twice; a malformed line rolls it all back.
  auto imported = (*opened)->import_file(*text, format);
  if (!imported && imported.error().kind == common::ErrorKind::kBadImport)
    return fail(path + " " + imported.error().text() + "；什么都没有导入");
  if (!imported) return fail("导入失败，什么都没有改：" + imported.error().text());
  const std::size_t records = imported->added + imported->updated + imported->kept;
  platform::write_stdout("导入 " + std::to_string(records) + " 条：新增 " + std::to_string(imported->added) +
                         "，更新 " + std::to_string(imported->updated) + "，保留 " + std::to_string(imported->kept) +
                         "\n");
  return 0;
}

}  // namespace ruvo::desktop
