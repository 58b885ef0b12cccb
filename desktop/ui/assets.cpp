#include "ui/assets.hpp"

#include "ui/ui_data.hpp"

namespace ruvo::desktop::ui {

namespace {

constexpr std::string_view file_bytes(std::string_view name) {
  for (const auto& file : kUiFiles) {
    if (file.name == name) return file.bytes;
  }
  return {};
}

struct Served {
  std::string_view path;
  Asset asset;
};

// Browsers ask for /favicon.ico on their own; it gets the same icon.
const Served kServed[] = {
    {"/", {"text/html; charset=utf-8", file_bytes("index.html")}},
    {"/app.css", {"text/css; charset=utf-8", file_bytes("app.css")}},
    {"/app.js", {"text/javascript; charset=utf-8", file_bytes("app.js")}},
    {"/model.js", {"text/javascript; charset=utf-8", file_bytes("model.js")}},
    {"/dictionaries.js", {"text/javascript; charset=utf-8", file_bytes("dictionaries.js")}},
    {"/favicon.svg", {"image/svg+xml", file_bytes("favicon.svg")}},
    {"/favicon.ico", {"image/svg+xml", file_bytes("favicon.svg")}},
};

}  // namespace

const Asset* find_asset(std::string_view path) {
  for (const auto& served : kServed) {
    if (served.path == path) return &served.asset;
  }
  return nullptr;
}

}  // namespace ruvo::desktop::ui
