// The system registry behind the platform's Registry: key handles are
// HKEYs, HKEY_LOCAL_MACHINE is Registry::kLocalMachine, and the results are
// the system's own error codes.
#pragma once

#include "platform/core/platform.h"

namespace tl {

class Win32Registry : public Registry {
 public:
  long CreateKey(Key parent, std::string_view path, Key* result) override;
  long OpenKey(Key parent, std::string_view path, Key* result) override;
  long QueryValueSize(Key key, std::string_view name, std::uint32_t* type, std::size_t* size) override;
  long QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer, std::size_t capacity,
                  std::size_t* size) override;
  long SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                std::size_t size) override;
  long CloseKey(Key key) override;
};

}  // namespace tl
