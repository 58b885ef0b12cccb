// ruvo-gui.exe: the headless local term service that ruvo starts beside it.
#include "entry.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  ruvo::platform::init_process();
  return ruvo::desktop::run_gui(ruvo::platform::command_line_words(argc, argv));
}
