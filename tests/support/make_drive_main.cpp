// make_drive: a Windows 98 drive made from a machine folder, for the demo and
// the end-to-end scripts, and our reader's view of a SYSTEM.DAT.
//
//   make_drive MACHINE DRIVE   makes DRIVE (which must not exist): MSDOS.SYS
//                              naming C:\WIN98; WIN98\ holding MACHINE's
//                              WINDOWS\, every name in capitals; and
//                              WIN98\SYSTEM.DAT, the genuine file with the
//                              HKEY_LOCAL_MACHINE keys of MACHINE's
//                              registry.reg added as Windows adds them
//   make_drive --list FILE     FILE's keys and values as libcreg_list.py
//                              prints them; exit 1, with the reason, when
//                              our reader refuses FILE
//
// A key the genuine file holds already keeps its own values: registry.reg's
// values for it are left out (and counted), since adding them would mean
// rewriting a record Windows wrote, which is not what an installed driver
// package looks like. The other roots of registry.reg (HKEY_USERS is
// USER.DAT's) are left out too. Exit 2 on bad input, with DRIVE not made.
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "hosted/creg.h"
#include "hosted/regedit4.h"
#include "hosted/text_helpers.h"
#include "hosted/tree.h"
#include "support/creg_file.h"
#include "support/drive.h"
#include "support/host_files.h"

namespace {

namespace fs = std::filesystem;

constexpr char kWindowsDir[] = "WIN98";

struct Made {
  std::size_t keys = 0;         // registry.reg's keys below HKEY_LOCAL_MACHINE
  std::size_t kept = 0;         // of those, the ones the genuine file had
  std::size_t valuesLeft = 0;   // their values in registry.reg, left out
  std::size_t files = 0;
};

// The genuine SYSTEM.DAT with every key below HKEY_LOCAL_MACHINE of the
// tree, parents first, in the tree's order. A name used twice in one key
// keeps the last value, the one a query reads.
bool AddKeys(const hosted::Tree &tree, std::string *systemDat, Made *made, std::string *error) {
  const std::string genuineBytes = scratch::GenuineSystemDat();
  std::optional<hosted::creg::Hive> genuine = hosted::creg::Hive::Parse(genuineBytes, "SYSTEM.DAT", error);
  if (!genuine) return false;
  scratch::CregWriter writer(genuineBytes);
  std::vector<std::pair<const hosted::Key *, std::string>> stack;
  const hosted::Key *root = tree.Root(hosted::RootId::LocalMachine);
  for (auto c = root->children.rbegin(); c != root->children.rend(); ++c) stack.emplace_back(*c, (*c)->name);
  while (!stack.empty()) {
    auto [key, path] = stack.back();
    stack.pop_back();
    std::vector<hosted::creg::Value> values;
    for (const hosted::Value *v = tree.FirstValue(key); v != nullptr; v = tree.NextValue(v)) {
      if (v->data.size() > 0xFFFF || v->name.size() > 0xFFFF) {
        *error = "registry.reg: value " + hosted::Quoted(v->name) + " of " + hosted::Quoted(path) +
                 " is larger than a SYSTEM.DAT value can be";
        return false;
      }
      std::erase_if(values, [&](const hosted::creg::Value &w) { return hosted::NamesEqual(w.name, v->name); });
      // Windows stores text without its terminator: what the tree's data is.
      values.push_back({v->type, std::string(v->name), std::string(v->data)});
    }
    ++made->keys;
    if (scratch::CregFind(*genuine, path)) {
      ++made->kept;
      made->valuesLeft += values.size();
    } else {
      writer.AddKey(path, values);
    }
    for (auto c = key->children.rbegin(); c != key->children.rend(); ++c)
      stack.emplace_back(*c, path + "\\" + std::string((*c)->name));
  }
  *systemDat = writer.Bytes();
  return true;
}

// MACHINE\WINDOWS copied to DRIVE\WIN98 with the names in capitals; links
// and special files are refused, and so are two names that the capitals
// would make one.
bool CopyWindowsFolder(const fs::path &from, const fs::path &to, Made *made, std::string *error) {
  std::error_code ec;
  std::set<fs::path> made_names;
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(from);
    fs::path target = to;
    for (const fs::path &element : relative) target /= scratch::UpperCase(element.string());
    const fs::file_status status = it->symlink_status(ec);
    if (ec) break;
    if (!made_names.insert(target).second) {
      *error = it->path().string() + ": another name there is the same in capitals";
      return false;
    }
    if (target == to / "SYSTEM.DAT") {
      *error = it->path().string() + ": a drive's SYSTEM.DAT is made from registry.reg, not copied";
      return false;
    }
    if (fs::is_directory(status)) {
      fs::create_directory(target, ec);
    } else if (fs::is_regular_file(status)) {
      const std::optional<std::string> bytes = scratch::ReadHostFile(it->path());
      if (!bytes || !scratch::WriteHostFile(target, *bytes)) {
        *error = "cannot copy " + it->path().string() + " to " + target.string();
        return false;
      }
      ++made->files;
    } else {
      *error = it->path().string() + ": neither a file nor a folder (a link?)";
      return false;
    }
    if (ec) break;
  }
  if (ec) *error = from.string() + ": " + ec.message();
  return !ec;
}

bool MakeDrive(const fs::path &machine, const fs::path &drive, Made *made, std::string *error) {
  std::error_code ec;
  for (const fs::directory_entry &entry : fs::directory_iterator(machine, ec)) {
    const std::string name = entry.path().filename().string();
    if (name != "registry.reg" && name != "WINDOWS") {
      *error = entry.path().string() + ": a machine folder holds registry.reg and WINDOWS only";
      return false;
    }
  }
  const std::optional<std::string> text = scratch::ReadHostFile(machine / "registry.reg");
  if (ec || !text) {
    *error = "cannot read " + (machine / "registry.reg").string();
    return false;
  }
  hosted::Regedit4Store store;
  hosted::Tree tree;
  std::string systemDat;
  if (!store.Parse(*text, (machine / "registry.reg").string(), &tree, error) ||
      !AddKeys(tree, &systemDat, made, error))
    return false;
  if (!fs::create_directory(drive, ec) || ec) {
    *error = "cannot make " + drive.string() + (ec ? ": " + ec.message() : ": it exists");
    return false;
  }
  const fs::path windows = drive / kWindowsDir;
  if (!fs::create_directory(windows, ec) || !CopyWindowsFolder(machine / "WINDOWS", windows, made, error) ||
      !scratch::WriteHostFile(windows / "SYSTEM.DAT", systemDat) ||
      !scratch::WriteHostFile(drive / "MSDOS.SYS", scratch::MsdosSys(std::string("C:\\") + kWindowsDir))) {
    if (error->empty()) *error = "cannot write below " + drive.string();
    fs::remove_all(drive, ec);
    return false;
  }
  return true;
}

int List(const fs::path &file) {
  const std::optional<std::string> bytes = scratch::ReadHostFile(file);
  if (!bytes) {
    std::fprintf(stderr, "make_drive: cannot read %s\n", file.c_str());
    return 2;
  }
  std::string error;
  const std::optional<hosted::creg::Hive> hive = hosted::creg::Hive::Parse(*bytes, file.string(), &error);
  if (!hive) {
    std::fprintf(stderr, "make_drive: %s\n", error.c_str());
    return 1;
  }
  const std::string listing = scratch::CregListing(*hive);
  return std::fwrite(listing.data(), 1, listing.size(), stdout) == listing.size() && std::fflush(stdout) == 0
             ? 0
             : 2;
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--list") return List(args[1]);
  if (args.size() != 2 || args[0].starts_with("-")) {
    std::fprintf(stderr, "usage: make_drive MACHINE DRIVE | make_drive --list SYSTEM.DAT\n");
    return 2;
  }
  Made made;
  std::string error;
  try {
    if (!MakeDrive(args[0], args[1], &made, &error)) {
      std::fprintf(stderr, "make_drive: %s\n", error.c_str());
      return 2;
    }
  } catch (const std::exception &e) {  // CregWriter's refusal of the genuine file, or memory
    std::fprintf(stderr, "make_drive: %s\n", e.what());
    return 2;
  }
  std::printf("made %s: %zu files; %zu keys of HKEY_LOCAL_MACHINE, %zu of them already in the genuine SYSTEM.DAT "
              "(their own values kept, %zu of registry.reg's left out)\n",
              args[1].c_str(), made.files, made.keys, made.kept, made.valuesLeft);
  return 0;
}
