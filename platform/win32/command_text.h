// What the Windows program takes from its process: the argument text after
// the program's name, and the program's title. Plain text work, no system
// headers.
#pragma once

#include <string>
#include <string_view>

namespace tl {

// The command line after the program's name and the blanks that follow it.
// The name runs to the closing quote when it starts with one, else to the
// first space or tab.
std::string ArgumentTextOfCommandLine(std::string_view commandLine);

// The executable's file name without its folder and its extension.
std::string ProgramTitleOfModule(std::string_view modulePath);

}  // namespace tl
