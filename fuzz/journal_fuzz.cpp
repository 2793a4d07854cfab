// The journal replay on arbitrary journal bytes beside a fixed registry.reg:
// never a crash, and what a start loads (Open) applies only the complete
// records (the records read, encoded again, are exactly the start of the
// journal less its comment lines), each removing its key and nothing else.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "hosted/regedit4.h"
#include "hosted/registry.h"
#include "support/registry_content.h"

namespace journal = hosted::journal;
using hosted::regedit4::Document;

namespace {

const std::string kRegistry =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1F8C]\r\n\"a\"=\"1\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1F8C\\0000]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]\r\n\"PNP ID\"=\"x\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\r\n[HKEY_USERS\\.Default\\A]\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\.tq7]\r\n@=\"t\"\r\n\r\n";

int MachineFolder() {
  static int dirFd = -1;
  if (dirFd >= 0) return dirFd;
  std::string pattern = (std::filesystem::temp_directory_path() / "tq72-fuzz-XXXXXX").string();
  FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  static const std::string root = pattern;
  std::atexit([] { std::filesystem::remove_all(root); });
  dirFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FUZZ_CHECK(dirFd >= 0, "open %s", root.c_str());
  return dirFd;
}

void WriteAt(int dirFd, const char *name, std::string_view bytes) {
  const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()), "%s",
             name);
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const int dirFd = MachineFolder();
  WriteAt(dirFd, hosted::kRegistryName, kRegistry);
  WriteAt(dirFd, journal::kJournalName, bytes);

  std::size_t valid = 0;
  const auto paths = journal::ReadRecords(bytes, &valid);
  std::string encoded = paths.empty() ? std::string() : std::string(journal::kHeader);
  for (const std::string &path : paths) encoded += journal::Record(path);
  std::string intact;  // the start of the journal less its comment lines
  for (std::size_t at = 0, end; at < valid; at = end + 1) {
    end = bytes.find('\n', at);
    if (bytes[at] != ';') intact += bytes.substr(at, end + 1 - at);
  }
  FUZZ_CHECK(valid <= size && (paths.empty() || intact == encoded),
             "a record was read that the journal does not hold intact");

  // What the replay must give: the registry less the keys the records name.
  std::string error;
  auto expected = Document::Parse(kRegistry, "f.reg", &error);
  for (const std::string &path : paths)
    if (auto *key = expected->FindPath(path); key != nullptr && key->parent != nullptr)
      expected->Remove(key);

  hosted::Registry replayed;
  FUZZ_CHECK(replayed.Open(dirFd, &error), "%s", error.c_str());
  FUZZ_CHECK(scratch::KeyTree(replayed) == scratch::KeyTree(*expected),
             "the replay differs");
  return 0;
}
