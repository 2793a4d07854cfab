// The scratch machine on Windows: a key below HKEY_CURRENT_USER and a folder
// below the temporary folder, made with the Win32 API itself, so that the
// platform calls under test meet a system's own registry and files.
#include <gtest/gtest.h>

#include "platform/call_table.h"
#include "support/scratch_machine.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace scratch {

const std::size_t LongestKeyName = 255;

namespace {

unsigned Serial = 0;

}  // namespace

struct Machine::Impl {
  std::string keyName;  // below HKEY_CURRENT_USER
  ::HKEY root = nullptr;
  std::filesystem::path folder;
  std::map<std::string, ::HANDLE> held;  // handles that keep files in use
};

Machine::Machine(const std::vector<Key> &keys, const std::vector<File> &files)
    : impl_(std::make_unique<Impl>()) {
  // A lambda, so that a failed ASSERT can return from it.
  [&] {
    // Wine gives the processes of one prefix the same few ids: the time
    // tells runs apart, and a key that is already there is not ours.
    const std::string unique = "tq72-scratch-" + std::to_string(::GetCurrentProcessId()) + "-" +
                               std::to_string(::GetTickCount()) + "-" + std::to_string(++Serial);
    impl_->keyName = "Software\\" + unique;
    ::DWORD disposition = 0;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, impl_->keyName.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &impl_->root, &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(disposition, static_cast<::DWORD>(REG_CREATED_NEW_KEY)) << impl_->keyName;
    for (const Key &key : keys) {
      // One name at a time: Wine's ANSI registry calls take no path longer
      // than MAX_PATH, and an instance name alone may have 255 characters.
      ::HKEY created = nullptr;
      ASSERT_EQ(::RegOpenKeyExA(impl_->root, nullptr, 0, KEY_ALL_ACCESS, &created), ERROR_SUCCESS);
      for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = key.path.find('\\', start);
        const std::string name = key.path.substr(start, end - start);
        ::HKEY parent = created;
        const LONG status = ::RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, &created, &disposition);
        ::RegCloseKey(parent);
        ASSERT_EQ(status, ERROR_SUCCESS) << key.path;
      }
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
    for (const File &file : files) EXPECT_TRUE(WriteFile(file.path, file.bytes)) << file.path;
  }();
}

Machine::~Machine() {
  for (const auto &[path, handle] : impl_->held) ::CloseHandle(handle);
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

std::filesystem::path Machine::HostPath(const std::string &relative) const {
  const std::filesystem::path windows = impl_->folder / "WINDOWS";
  return relative.empty() ? windows : windows / relative;
}

void Machine::Hold(const std::string &relative) {
  // Sharing reading and writing but not deletion: DeleteFile fails meanwhile.
  const ::HANDLE handle =
      ::CreateFileA(HostPath(relative).string().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << relative;
  impl_->held[relative] = handle;
}

void Machine::Release(const std::string &relative) {
  auto it = impl_->held.find(relative);
  if (it == impl_->held.end()) return;
  ::CloseHandle(it->second);
  impl_->held.erase(it);
}

void Machine::Finish() {}

}  // namespace scratch
