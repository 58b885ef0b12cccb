#include "bin/entry.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  ruvo::platform::init_process();
  const int code = ruvo::bin::run_ruvo(ruvo::platform::command_line_words(argc, argv));
  ruvo::platform::exit_process(code);
}
