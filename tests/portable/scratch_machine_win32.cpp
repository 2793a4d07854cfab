// The scratch machine on Windows: a key below HKEY_CURRENT_USER and a folder
// below the temporary folder, made with the Win32 API itself, so that the
// platform calls under test meet a system's own registry and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/call_table.h"
#include "portable/scratch_machine.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace scratch {

namespace {

unsigned Serial = 0;

}  // namespace

struct Machine::Impl {
  std::string keyName;  // below HKEY_CURRENT_USER
  ::HKEY root = nullptr;
  std::filesystem::path folder;
};

Machine::Machine(const std::vector<Key> &keys, const std::vector<File> &files)
    : impl_(std::make_unique<Impl>()) {
  // A lambda, so that a failed ASSERT can return from it.
  [&] {
    const std::string unique =
        "tq72-scratch-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++Serial);
    impl_->keyName = "Software\\" + unique;
    ::DWORD disposition = 0;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, impl_->keyName.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &impl_->root, &disposition),
              ERROR_SUCCESS);
    for (const Key &key : keys) {
      ::HKEY created = nullptr;
      ASSERT_EQ(::RegCreateKeyExA(impl_->root, key.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &created, &disposition),
                ERROR_SUCCESS)
          << key.path;
      for (const Value &value : key.values) {
        EXPECT_EQ(::RegSetValueExA(created, value.name.c_str(), 0, value.type,
                                   reinterpret_cast<const BYTE *>(value.bytes.data()),
                                   static_cast<::DWORD>(value.bytes.size())),
                  ERROR_SUCCESS)
            << key.path << " " << value.name;
      }
      ::RegCloseKey(created);
    }
    char temp[MAX_PATH];
    ASSERT_NE(::GetTempPathA(sizeof temp, temp), 0u);
    impl_->folder = std::filesystem::path(temp) / unique;
    std::filesystem::create_directories(impl_->folder / "WINDOWS" / "SYSTEM");
    for (const File &file : files) {
      const std::filesystem::path path = impl_->folder / "WINDOWS" / file.path;
      std::filesystem::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary) << file.bytes;
    }
  }();
}

Machine::~Machine() {
  if (impl_->root != nullptr) ::RegCloseKey(impl_->root);
  // The platform's own deletion takes the subtree on every Windows version.
  platform::NativeCalls.RegDeleteKeyA(reinterpret_cast<platform::HKEY>(HKEY_CURRENT_USER),
                                      impl_->keyName.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(impl_->folder, ignored);
}

platform::HKEY Machine::LocalMachine() const {
  return reinterpret_cast<platform::HKEY>(impl_->root);
}

std::string Machine::WindowsDir() const { return (impl_->folder / "WINDOWS").string(); }
std::string Machine::SystemDir() const { return (impl_->folder / "WINDOWS" / "SYSTEM").string(); }

std::optional<std::string> Machine::ReadFile(const std::string &relative) const {
  const std::filesystem::path path = impl_->folder / "WINDOWS" / relative;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool Machine::HasKey(const std::string &path) const {
  ::HKEY key = nullptr;
  if (::RegOpenKeyExA(impl_->root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

void Machine::Finish() {}

}  // namespace scratch
