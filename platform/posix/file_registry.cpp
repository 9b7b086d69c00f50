#include "platform/posix/file_registry.h"

namespace tl {
// Placeholder until the file format lands: keeps nothing.
FileRegistry::FileRegistry(std::string folder) : folder_(std::move(folder)) {}
FileRegistry::~FileRegistry() = default;
std::string FileRegistry::DefaultFolder() { return {}; }
std::string FileRegistry::HiveFile() const { return folder_ + "/HKEY_LOCAL_MACHINE.reg"; }
long FileRegistry::CreateKey(Key, std::string_view, Key*) { return kAccessDenied; }
long FileRegistry::OpenKey(Key, std::string_view, Key*) { return kFileNotFound; }
long FileRegistry::QueryValueSize(Key, std::string_view, std::uint32_t*, std::size_t*) { return kFileNotFound; }
long FileRegistry::QueryValue(Key, std::string_view, std::uint32_t*, void*, std::size_t, std::size_t*) { return kFileNotFound; }
long FileRegistry::SetValue(Key, std::string_view, std::uint32_t, const void*, std::size_t) { return kAccessDenied; }
long FileRegistry::CloseKey(Key) { return kSuccess; }
bool FileRegistry::Load(Hive*, bool*) const { return false; }
bool FileRegistry::Save(const Hive&) { return false; }
std::string FileRegistry::PathOf(Key) const { return {}; }
}  // namespace tl
