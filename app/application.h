// Start-up and the end of the program.
#pragma once

#include <string_view>

namespace tl {

// Starts the sockets layer, runs the main dialog, and returns the process's
// exit status: 0 after a successful update (or when the sockets layer cannot
// start), -1 after "Dismiss".
int RunApplication(std::string_view argumentText);

}  // namespace tl
