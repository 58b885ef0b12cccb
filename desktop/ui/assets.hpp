// The browser interface's files, compiled into the program: plain HTML, CSS
// and JavaScript with no build step, served as they are written in
// desktop/ui.
#pragma once

#include <string_view>

namespace ruvo::desktop::ui {

struct Asset {
  std::string_view content_type;
  std::string_view bytes;
};

// The file served at this path ("/" is the page itself), or nothing.
const Asset* find_asset(std::string_view path);

}  // namespace ruvo::desktop::ui
