// --add-dictionary, --dictionaries and --remove-dictionary on the store of the application-data
// folder (dictionaries.hpp).
#include "commands/dictionaries.hpp"

#include "answers/dictionaries.hpp"
#include "commands/folder_store.hpp"
#include "platform/platform.hpp"

#include <charconv>

namespace ruvo::desktop::commands {

namespace {

int fail(const std::string& message) {
  platform::write_stderr("ruvo-gui.exe：" + message + "\n");
  return 1;
}

}  // namespace

int run_add_dictionaries(const std::vector<std::string>& paths) {
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  int code = 0;
  for (const auto& path : paths) {
    auto outcome = answers::add_dictionaries(**opened, path);
    if (!outcome) {
      code = fail(outcome.error().text());
      continue;
    }
    for (const auto& d : outcome->added) {
      platform::write_stdout(d.name + "：" + std::to_string(d.entries) + " 条\n");
    }
    for (const auto& f : outcome->failed) code = fail(f.path + "：" + f.error.text() + "；这本词典什么都没有添加");
  }
  return code;
}

int run_list_dictionaries() {
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  auto listed = (*opened)->dictionaries();
  if (!listed) return fail("读不了词库：" + listed.error().text());
  auto found = answers::found_on_system(**opened);
  if (!found) return fail("读不了词库：" + found.error().text());
  std::string out;
  if (listed->empty()) out += "还没有添加词典\n";
  for (const auto& d : *listed) {
    out += std::to_string(d.id) + "  " + d.name + "  " + d.format + "  " + std::to_string(d.entries) + " 条" +
           (d.enabled ? "" : "（已停用）") + "\n";
  }
  if (!found->empty()) {
    out += "\n在本机找到、还没添加的（ruvo-gui.exe --add-dictionary 路径）：\n";
    for (const auto& f : *found) out += "  " + f.name + "  " + f.format + "  " + f.path + "\n";
  }
  platform::write_stdout(out);
  return 0;
}

int run_remove_dictionary(const std::string& id_text) {
  std::int64_t id = 0;
  auto [end, error] = std::from_chars(id_text.data(), id_text.data() + id_text.size(), id);
  if (error != std::errc() || end != id_text.data() + id_text.size() || id <= 0) {
    return fail("没有这本词典：" + id_text + "（编号见 ruvo-gui.exe --dictionaries）");
  }
  auto opened = open_folder_store();
  if (!opened) return fail("打不开词库：" + opened.error().text());
  auto removed = (*opened)->remove_dictionary(id);
  if (!removed) return fail("删除失败：" + removed.error().text());
  if (!*removed) return fail("没有这本词典：" + id_text + "（编号见 ruvo-gui.exe --dictionaries）");
  platform::write_stdout("已删除词典 " + (*removed)->name + "（" + std::to_string((*removed)->entries) + " 条）\n");
  return 0;
}

}  // namespace ruvo::desktop::commands
