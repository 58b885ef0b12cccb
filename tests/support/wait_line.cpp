#include "support/wait_line.hpp"

namespace ruvo::test {

WaitLineBytes split_wait_line(std::string_view err) {
  WaitLineBytes split{"", std::string(err), false};
  if (err.empty() || err.front() != '\r') return split;
  for (std::size_t end = err.size(); end-- > 0;) {
    if (err[end] != '\r' || end == 0) continue;
    std::size_t start = end;
    while (start > 0 && err[start - 1] == ' ') --start;
    if (start == end || start == 0 || err[start - 1] != '\r') continue;
    split.shown = std::string(err.substr(0, end + 1));
    split.rest = std::string(err.substr(end + 1));
    split.erased = true;
    return split;
  }
  return split;
}

}  // namespace ruvo::test
