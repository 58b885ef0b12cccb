#include "answers/import_export.hpp"

#include "answers/store_errors.hpp"
#include "platform/mapped_file.hpp"

#include <utility>

namespace ruvo::desktop::answers {

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

}  // namespace

Result<store::TermFileFormat> file_format(std::string_view name) {
  auto named = store::term_file_format(name);
  if (!named) {
    return common::failure(common::ErrorKind::kBadInput,
                           "不认识的格式「" + std::string(name) + "」，可选：jsonl、csv、tsv");
  }
  return *named;
}

Result<JsonValue> import_terms(Context& ctx, const QueryParameters& query, std::string_view body) {
  store::TermFileFormat format = store::TermFileFormat::kJsonLines;
  if (auto given = query.find("format"); given != query.end()) {
    auto named = file_format(given->second);
    if (!named) return named.error();
    format = *named;
  }
  if (ctx.store.damaged()) return damaged_store_refusal();
  auto imported = ctx.store.import_file(body, format);
  if (!imported && imported.error().kind == common::ErrorKind::kBadImport) {
    return common::failure(common::ErrorKind::kBadImport, imported.error().text() + "；什么都没有导入");
  }
  if (!imported) return store_failure(imported.error());
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["imported"] = imported->added + imported->updated + imported->kept;
  reply["added"] = imported->added;
  reply["updated"] = imported->updated;
  reply["kept"] = imported->kept;
  return reply;
}

Result<JsonValue> import_terms_file(Context& ctx, const QueryParameters& query, const std::string& body_file) {
  auto mapped = platform::MappedFile::open(body_file);
  if (!mapped) return store_failure(mapped.error());
  return import_terms(ctx, query, mapped->bytes());
}

ExportPieces::ExportPieces(store::TermExport cursor)
    : cursor_(std::make_unique<store::TermExport>(std::move(cursor))) {}

Result<std::string> ExportPieces::next() {
  std::string piece;
  while (piece.size() < kPieceBytes) {
    auto record = cursor_->next();
    if (!record) return record.error();
    if (!*record) break;
    piece += store::to_json_line(**record);
    piece += '\n';
    ++entries_;
  }
  return piece;
}

Result<ExportPieces> export_terms(Context& ctx) {
  auto opened = ctx.store.open_export();
  if (!opened) return store_failure(opened.error());
  return ExportPieces(std::move(opened).value());
}

}  // namespace ruvo::desktop::answers
