// The settings store: the last module address and the last chosen file, in
// the local-machine hive. No state of its own; every failure is silent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/platform.h"

namespace tl {

using RegistryKey = Registry::Key;

inline constexpr std::string_view kAppKeyPath = "SOFTWARE\\Ombrelin\\TIDELOAD\\";
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kIpAddrValue = "IPAddr";
inline constexpr std::string_view kFileDirValue = "FileDir";

// The application key, created when missing; 0 on any failure.
RegistryKey OpenAppKey();
void CloseAppKey(RegistryKey key);

void WriteTextValue(RegistryKey key, std::string_view subkey, std::string_view name,
                    std::string_view text);
std::string ReadTextValue(RegistryKey key, std::string_view subkey, std::string_view name,
                          std::string_view defaultText);
void WriteNumberValue(RegistryKey key, std::string_view subkey, std::string_view name,
                      std::uint32_t number);
std::uint32_t ReadNumberValue(RegistryKey key, std::string_view subkey, std::string_view name,
                              std::uint32_t defaultNumber);

std::uint32_t LoadIpAddress();
void SaveIpAddress(std::uint32_t address);
std::string LoadFileDir();
void SaveFileDir(std::string_view path);

}  // namespace tl
