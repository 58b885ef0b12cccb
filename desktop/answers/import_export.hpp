// Moving the whole dictionary in and out: an import of a file's entries, all
// or nothing, and an export as JSON Lines read in pieces from a snapshot.
#pragma once

#include "answers/context.hpp"
#include "store/store.hpp"
#include "store/term_file.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ruvo::desktop::answers {

// The most a dictionary file to import may hold, through the service or
// from the command line.
inline constexpr std::size_t kMaxImportBytes = 64 * 1024 * 1024;

// The format a name gives ("jsonl", "csv" or "tsv"), or an error of the
// kind kBadInput naming the accepted ones.
Result<store::TermFileFormat> file_format(std::string_view name);

// POST /v1/import?format=jsonl|csv|tsv (JSON Lines when not given): the body
// is a dictionary file, stored all or nothing through the store's writer
// (reads go on meanwhile on connections of their own). {"ok": true,
// "imported", "added", "updated", "kept"}. Errors: kBadInput for an unknown
// format; kBadImport for a malformed line (its number and "；什么都没有导入"
// in the message); damaged_store_refusal for a damaged store; kBusy when the
// writer stays taken (another import, a program writing); the store's
// failure otherwise.
Result<JsonValue> import_terms(Context& ctx, const QueryParameters& query, std::string_view body);

// The same for a body written to a file as it arrived, read from there
// through memory the system may take back (never a copy of the whole file).
Result<JsonValue> import_terms_file(Context& ctx, const QueryParameters& query, const std::string& body_file);

// An export on its way out: the entries of one snapshot as JSON Lines, in
// pieces of about 64 KiB (few calls, and little held per slow reader).
class ExportPieces {
 public:
  explicit ExportPieces(store::TermExport cursor);

  // The next piece, whole lines only; an empty one after the last. An error
  // cuts the export off: what was given is not the whole store.
  Result<std::string> next();

  // The entries in the pieces given so far.
  std::size_t entries() const { return entries_; }

 private:
  std::unique_ptr<store::TermExport> cursor_;
  std::size_t entries_ = 0;
};

// GET /v1/export: the store's entries in the order they were added, from a
// snapshot taken now on a connection of its own; the store's failure when it
// cannot be taken.
Result<ExportPieces> export_terms(Context& ctx);

}  // namespace ruvo::desktop::answers
