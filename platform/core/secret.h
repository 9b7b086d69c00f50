// Secrets (passwords) are overwritten before their memory goes.
#pragma once

#include <string>

namespace tl {

// Overwrites a secret's bytes, then empties it.
void WipeSecret(std::string& secret);

}  // namespace tl
