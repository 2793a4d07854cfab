// The journal replay on arbitrary journal bytes beside a fixed registry.reg:
// never a crash, and what a start loads (Open) applies only the complete
// records (the records read, encoded again, are exactly the start of the
// journal), each removing its key and nothing else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "hosted/regedit4.h"
#include "hosted/registry.h"
#include "support/machine_folder.h"
#include "support/registry_content.h"

namespace journal = hosted::journal;

namespace {

const std::string kRegistry =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1F8C]\r\n\"a\"=\"1\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1F8C\\0000]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]\r\n\"PNP ID\"=\"x\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\r\n[HKEY_USERS\\.Default\\A]\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\.tq7]\r\n@=\"t\"\r\n\r\n";

const scratch::MachineFolder &Machine() {
  static const scratch::MachineFolder machine(kRegistry);
  return machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const scratch::MachineFolder &machine = Machine();
  FUZZ_CHECK(machine.Write(hosted::kRegistryName, kRegistry) &&
                 machine.Write(journal::kJournalName, std::string(bytes)),
             "cannot write the machine folder");

  std::size_t valid = 0;
  const auto paths = journal::ReadRecords(bytes, &valid);
  std::string encoded = paths.empty() ? std::string() : std::string(journal::kHeader);
  for (const std::string &path : paths) encoded += journal::Record(path);
  FUZZ_CHECK(valid <= size && (paths.empty() || bytes.substr(0, valid) == encoded),
             "a record was read that the journal does not hold intact");

  // What the replay must give: the registry less the keys the records name.
  std::string error;
  auto expected = scratch::Load(kRegistry, "f.reg", &error);
  for (const std::string &path : paths)
    if (auto *key = expected->tree.FindPath(path); key != nullptr && key->parent != nullptr)
      expected->tree.Remove(key);

  hosted::Registry replayed;
  FUZZ_CHECK(replayed.Open(machine.Fd(), &error), "%s", error.c_str());
  FUZZ_CHECK(scratch::KeyTree(replayed) == scratch::KeyTree(expected->tree),
             "the replay differs");
  return 0;
}
