// Writes the seeds of fuzz/corpus/creg_fuzz into the folder it is given:
// small files cut from the genuine SYSTEM.DAT (its headers and first keys),
// one with entries past the first 8 KiB, one after a deletion (free records
// and entries listed), one cut short after a deletion's first writes.
//   creg_seeds fuzz/corpus/creg_fuzz
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "hosted/creg.h"
#include "support/creg_file.h"

namespace {

bool Save(const std::string &folder, const char *name, const std::string &bytes) {
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: creg_seeds FOLDER\n");
    return 2;
  }
  const std::string small = scratch::SmallSystemDat(40, 2);
  hosted::creg::Hive hive = scratch::CregParsed(small);
  // The first key with subkeys below a key of the root.
  std::size_t top = 1;
  while (top < hive.Keys().size() &&
         (hive.Keys()[top].children.empty() || top <= hive.Keys()[0].children.size()))
    ++top;
  std::vector<hosted::creg::Write> writes;
  if (top == hive.Keys().size() || !hive.Delete(hive.Keys()[top].id, &writes)) {
    std::fprintf(stderr, "creg_seeds: no key to delete\n");
    return 1;
  }
  std::string cut = small;
  for (std::size_t w = 0; w < 3 && w < writes.size(); ++w)
    cut.replace(writes[w].offset, writes[w].bytes.size(), writes[w].bytes);
  const std::string folder = argv[1];
  const bool saved = Save(folder, "small.dat", small) &&
                     Save(folder, "paged.dat", scratch::SmallSystemDat(40, 3)) &&
                     Save(folder, "deleted.dat", hive.Bytes()) &&
                     Save(folder, "cut-short.dat", cut);
  return saved ? 0 : 1;
}
