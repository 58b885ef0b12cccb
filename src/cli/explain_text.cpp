#include "cli/explain_text.hpp"

#include "common/utf8.hpp"

#include <vector>

namespace ruvo::cli {

void ExplainTextBuilder::feed(std::string_view bytes) {
  if (invalid_ || bytes.empty()) return;
  std::string joined;
  std::string_view data = bytes;
  if (!carry_.empty()) {
    joined = carry_;
    joined.append(bytes);
    data = joined;
    carry_.clear();
  }
  std::size_t pos = 0;
  while (pos < data.size()) {
    const common::Utf8Step step = common::decode_utf8(data, pos);
    if (!step.valid) {
      // A sequence cut off by the end of this piece may still complete in
      // the next one; anything else is ill-formed for good.
      if (pos + step.length == data.size()) {
        carry_.assign(data.substr(pos));
        return;
      }
      invalid_ = true;
      kept_.clear();
      return;
    }
    const bool space = common::is_unicode_space(step.scalar);
    if (in_leading_space_ && space) {
      pos += step.length;
      continue;
    }
    in_leading_space_ = false;
    if (kept_scalars_ < kExplainTextLimit) {
      kept_.append(data.substr(pos, step.length));
      ++kept_scalars_;
    } else if (!space) {
      text_beyond_kept_ = true;
    }
    pos += step.length;
  }
}

std::string ExplainTextBuilder::finish() const {
  if (invalid_ || !carry_.empty()) return {};
  // With more text after the kept scalars the cut falls inside the trimmed
  // text, so nothing at the end is trimmed; otherwise everything after the
  // kept scalars is white space and the kept text's own end is trimmed.
  if (text_beyond_kept_) return kept_;
  return std::string(common::trim_unicode_space(kept_));
}

std::string prepare_explain_text(std::string_view text) {
  ExplainTextBuilder builder;
  builder.feed(text);
  return builder.finish();
}

std::string read_explain_text(const platform::ReadFunction& input) {
  ExplainTextBuilder builder;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const auto result = input(buffer.data(), buffer.size());
    if (!result || *result == 0) break;
    builder.feed(std::string_view(buffer.data(), *result));
  }
  return builder.finish();
}

}  // namespace ruvo::cli
