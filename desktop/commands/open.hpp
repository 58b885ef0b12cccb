// `ruvo-gui.exe` with no word (or --open) and `--url`: the way a person, or a
// script, reaches the browser interface. Both make sure a service runs for
// the application-data folder through ruvo's own client (the discovery file,
// a health probe, else `ruvo-gui.exe --service` started in the background
// and waited for), then ask it for a fresh one-time sign-in address.
#pragma once

#include <string>
#include <vector>

namespace ruvo::desktop::commands {

// Prints the sign-in address and a line feed on standard output, then opens
// it in the browser: each command of $BROWSER (separated by ":", "%s" standing
// for the address, else the address added last), else xdg-open. Returns 0,
// or 1 with the reason on standard error (the address is still printed when
// only the browser failed).
int run_open();

// Prints a fresh sign-in address and a line feed, nothing else. Returns 0,
// or 1 with the reason on standard error.
int run_url();

// The commands tried to open `url` in a browser, in order, for the value of
// $BROWSER (nothing when it is unset).
std::vector<std::vector<std::string>> browser_commands(const char* browser_variable, const std::string& url);

}  // namespace ruvo::desktop::commands
