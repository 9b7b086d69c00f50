#include "settings/settings.h"

#include <memory>

namespace tl {

namespace {

Registry* Reg() { return CurrentHost().registry; }

}  // namespace

RegistryKey OpenAppKey() {
  Registry* reg = Reg();
  if (reg == nullptr) return 0;
  RegistryKey key = 0;
  if (reg->CreateKey(Registry::kLocalMachine, kAppKeyPath, &key) != Registry::kSuccess) return 0;
  return key;
}

void CloseAppKey(RegistryKey key) {
  if (key != 0 && Reg() != nullptr) Reg()->CloseKey(key);
}

void WriteTextValue(RegistryKey key, std::string_view subkey, std::string_view name,
                    std::string_view text) {
  Registry* reg = Reg();
  RegistryKey section = 0;
  if (reg == nullptr || reg->CreateKey(key, subkey, &section) != Registry::kSuccess) return;
  std::string data(text);  // with its terminating NUL
  reg->SetValue(section, name, kRegSz, data.c_str(), data.size() + 1);
  reg->CloseKey(section);
}

std::string ReadTextValue(RegistryKey key, std::string_view subkey, std::string_view name,
                          std::string_view defaultText) {
  Registry* reg = Reg();
  RegistryKey section = 0;
  if (reg == nullptr || reg->OpenKey(key, subkey, &section) != Registry::kSuccess) {
    return std::string(defaultText);
  }
  std::uint32_t type = 0;
  std::size_t size = 0;
  std::string result(defaultText);
  if (reg->QueryValueSize(section, name, &type, &size) == Registry::kSuccess) {
    std::string buffer(size, '\0');
    std::size_t got = 0;
    if (reg->QueryValue(section, name, &type, buffer.data(), buffer.size(), &got) ==
        Registry::kSuccess) {
      buffer.resize(got);
      std::size_t nul = buffer.find('\0');
      result = nul == std::string::npos ? buffer : buffer.substr(0, nul);
    }
  }
  reg->CloseKey(section);
  return result;
}

void WriteNumberValue(RegistryKey key, std::string_view subkey, std::string_view name,
                      std::uint32_t number) {
  Registry* reg = Reg();
  RegistryKey section = 0;
  if (reg == nullptr || reg->CreateKey(key, subkey, &section) != Registry::kSuccess) return;
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
      static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
  reg->SetValue(section, name, kRegDword, bytes, sizeof bytes);
  reg->CloseKey(section);
}

std::uint32_t ReadNumberValue(RegistryKey key, std::string_view subkey, std::string_view name,
                              std::uint32_t defaultNumber) {
  Registry* reg = Reg();
  RegistryKey section = 0;
  if (reg == nullptr || reg->OpenKey(key, subkey, &section) != Registry::kSuccess) {
    return defaultNumber;
  }
  unsigned char bytes[4] = {0, 0, 0, 0};
  std::uint32_t type = 0;
  std::size_t got = 0;
  long rc = reg->QueryValue(section, name, &type, bytes, sizeof bytes, &got);
  reg->CloseKey(section);
  // A longer value does not fit and gives the default; a shorter one holds
  // no whole number and gives the default too rather than a partial one.
  if (rc != Registry::kSuccess || got != sizeof bytes) return defaultNumber;
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t LoadIpAddress() {
  RegistryKey app = OpenAppKey();
  std::uint32_t address = ReadNumberValue(app, kSettingsSection, kIpAddrValue, 0);
  CloseAppKey(app);
  return address;
}

void SaveIpAddress(std::uint32_t address) {
  RegistryKey app = OpenAppKey();
  WriteNumberValue(app, kSettingsSection, kIpAddrValue, address);
  CloseAppKey(app);
}

std::string LoadFileDir() {
  RegistryKey app = OpenAppKey();
  std::string text = ReadTextValue(app, kSettingsSection, kFileDirValue, "");
  CloseAppKey(app);
  return text;
}

void SaveFileDir(std::string_view path) {
  RegistryKey app = OpenAppKey();
  WriteTextValue(app, kSettingsSection, kFileDirValue, path);
  CloseAppKey(app);
}

}  // namespace tl
