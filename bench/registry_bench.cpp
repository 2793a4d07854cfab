// The cost of a full run against a declined one on a registry of Windows 98
// size. A declined run opens the machine's registry and closes it with no
// change; a full run opens it, deletes 12 keys in different places (each
// durable before its call returns) and closes it (folding the journal into
// registry.reg). The contract: full costs at most about three times declined.
//
//   registry_bench [--benchmark_...]        prints the table, then full/declined
//   TQ72_BENCH_DIR=/some/dir                where the scratch machine folder goes
//
// The registry is generated once (deterministically) in a temporary folder:
// about 25 MB and 100,000 keys in the shape of a Win98 export (CLSIDs with
// InprocServer32 and ProgID, file classes, Enum device instances, service
// classes with binary data over continuation lines, per-user settings),
// sections out of name order as regedit writes them, CR LF line ends.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hosted/regedit4.h"
#include "hosted/registry.h"
#include "ratio_reporter.h"
#include "support/machine_folder.h"

namespace {

using namespace platform;

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }

 private:
  std::uint64_t state_;
};

struct Generated {
  std::string text;
  std::size_t keys = 0;
  std::vector<std::pair<HKEY, std::string>> deletions;  // 12 keys in different places
};

class Generator {
 public:
  Generated Run() {
    Header();
    Classes();
    Enum();
    Services();
    Software();
    Users();
    return std::move(out_);
  }

 private:
  void Header() { out_.text = "REGEDIT4\r\n\r\n"; }
  void Section(const std::string &path) {
    out_.text += '[';
    out_.text += path;
    out_.text += "]\r\n";
    ++out_.keys;
  }
  void End() { out_.text += "\r\n"; }
  static std::string Quote(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text) {
      if (c == '\\' || c == '"') quoted += '\\';
      quoted += c;
    }
    return quoted + '"';
  }
  void Sz(const std::string &name, const std::string &value) {
    out_.text += name.empty() ? std::string("@") : Quote(name);
    out_.text += '=' + Quote(value) + "\r\n";
  }
  void Dword(const std::string &name, std::uint32_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "=dword:%08x\r\n", value);
    out_.text += Quote(name) + buffer;
  }
  // Binary data wrapped as regedit does: ",\" then two spaces.
  void Hex(const std::string &name, unsigned bytes, const char *type = "hex") {
    std::string line = Quote(name) + '=' + type + ':';
    static const char kHex[] = "0123456789abcdef";
    for (unsigned i = 0; i < bytes; ++i) {
      const unsigned b = rng_.Below(256);
      std::string item{kHex[b >> 4], kHex[b & 15]};
      if (i + 1 < bytes) item += ',';
      if (line.size() + item.size() > 76) {
        out_.text += line + "\\\r\n";
        line = "  ";
      }
      line += item;
    }
    out_.text += line + "\r\n";
  }
  std::string Guid() {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%04X-%012llX}",
                  static_cast<unsigned>(rng_.Next()), rng_.Below(65536), rng_.Below(65536),
                  rng_.Below(65536),
                  static_cast<unsigned long long>(rng_.Next() & 0xFFFFFFFFFFFFull));
    return buffer;
  }
  std::string Word() {
    static const char *kWords[] = {"Shell",  "Media",  "Control", "Object",  "Document",
                                   "Viewer", "Player", "Folder",  "Network", "Display",
                                   "Font",   "Print",  "Sound",   "Image",   "Modem"};
    return kWords[rng_.Below(15)] + std::to_string(rng_.Below(1000));
  }

  // HKLM\SOFTWARE\Classes: CLSIDs in random (unsorted) order, file classes.
  void Classes() {
    const std::string root = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    for (int i = 0; i < 4000; ++i) {
      const std::string ext =
          "." + std::string(1, static_cast<char>('a' + i % 26)) + std::to_string(i);
      Section(root + "\\" + ext);
      Sz("", ext.substr(1) + "file");
      Sz("Content Type", "application/x-" + ext.substr(1));
      End();
      Section(root + "\\" + ext.substr(1) + "file");
      Sz("", Word() + " document");
      Hex("EditFlags", 4);
      End();
      Section(root + "\\" + ext.substr(1) + "file\\shell\\open\\command");
      Sz("", "C:\\WINDOWS\\" + Word() + ".EXE \"%1\"");
      End();
      if (i == 2024)  // a file class with its shell\open\command subtree
        out_.deletions.push_back(
            {HKEY_LOCAL_MACHINE, (root + "\\" + ext.substr(1) + "file").substr(19)});
      Section(root + "\\" + ext.substr(1) + "file\\DefaultIcon");
      Sz("", "C:\\WINDOWS\\SYSTEM\\SHELL32.DLL," + std::to_string(rng_.Below(100)));
      End();
    }
    for (int i = 0; i < 18000; ++i) {
      const std::string clsid = root + "\\CLSID\\" + Guid();
      if (i == 777) out_.deletions.push_back({HKEY_LOCAL_MACHINE, clsid.substr(19)});
      if (i == 9000) out_.deletions.push_back({HKEY_LOCAL_MACHINE, clsid.substr(19)});
      const std::string name = Word();
      Section(clsid);
      Sz("", name + " Class");
      End();
      Section(clsid + "\\InprocServer32");
      Sz("", "C:\\WINDOWS\\SYSTEM\\" + name + ".DLL");
      Sz("ThreadingModel", i % 3 ? "Apartment" : "Both");
      End();
      Section(clsid + "\\ProgID");
      Sz("", name + ".Object.1");
      End();
      if (i % 4 == 0) {
        Section(clsid + "\\Implemented Categories\\" + Guid());
        End();
      }
    }
  }

  // HKLM\Enum: device instances, ours among them.
  void Enum() {
    const char *buses[] = {"PCI", "ROOT", "ISAPNP", "BIOS", "MONITOR", "HTREE", "USB", "SCSI"};
    for (int i = 0; i < 3000; ++i) {
      char device[96];
      std::snprintf(device, sizeof device, "HKEY_LOCAL_MACHINE\\Enum\\%s\\VEN_%04X&DEV_%04X",
                    buses[i % 8], rng_.Below(65536), rng_.Below(65536));
      Section(std::string(device) + "\\BUS_00&DEV_" + std::to_string(i % 32) + "&FUNC_00");
      Sz("DeviceDesc", Word() + " Controller");
      Sz("HardwareID", std::string(device).substr(24));
      Sz("Class", "System");
      Sz("Driver", "System\\" + std::to_string(1000 + i));
      Hex("ConfigFlags", 4);
      Sz("Mfg", "(Standard system devices)");
      End();
    }
    const std::string ours = "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1A2B&DEV_7272";
    Section(ours + "\\BUS_00&DEV_0A&FUNC_00");
    Sz("DeviceDesc", "TQ72 PCI Data/Fax Modem");
    Sz("Driver", "MODEM\\0000");
    End();
    out_.deletions.push_back({HKEY_LOCAL_MACHINE, ours.substr(19)});
  }

  // HKLM\System\CurrentControlSet\Services: classes with binary properties.
  void Services() {
    const std::string base = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services";
    const char *classes[] = {"Display", "Net", "NetTrans", "MEDIA",  "Ports",    "MODEM",
                             "hdc",     "fdc", "Monitor",  "System", "Keyboard", "Mouse"};
    for (int c = 0; c < 12; ++c) {
      for (int i = 0; i < 150; ++i) {
        char instance[16];
        std::snprintf(instance, sizeof instance, "%04d", i);
        const std::string key = base + "\\Class\\" + classes[c] + "\\" + instance;
        Section(key);
        Sz("DriverDesc", Word() + " Driver");
        Sz("InfPath", "OEM" + std::to_string(i) + ".INF");
        Hex("Properties", 60);
        End();
        Section(key + "\\Init");
        Sz("1", "AT&F");
        End();
        Section(key + "\\Settings");
        Sz("Prefix", "AT");
        Hex("Blob", 180);
        End();
        if (c == 5 && i == 0) out_.deletions.push_back({HKEY_LOCAL_MACHINE, key.substr(19)});
      }
    }
    for (int i = 0; i < 1500; ++i) {
      const std::string key = base + "\\VxD\\" + Word() + "_" + std::to_string(i);
      Section(key);
      Sz("StaticVxD", "*" + Word());
      Hex("Start", 1);
      End();
    }
    Section(base + "\\TQ19KVN");
    Sz("DisplayName", "TQ72 modem service");
    End();
    out_.deletions.push_back({HKEY_LOCAL_MACHINE, base.substr(19) + "\\TQ19KVN"});
  }

  // HKLM\SOFTWARE: vendors, uninstall entries, SharedDLLs.
  void Software() {
    const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE";
    for (int v = 0; v < 400; ++v) {
      const std::string vendor = base + "\\" + Word() + " Corp";
      for (int p = 0; p < 8; ++p) {
        Section(vendor + "\\Product" + std::to_string(p) + "\\CurrentVersion");
        Sz("Path", "C:\\Program Files\\" + Word());
        Dword("Installed", rng_.Below(2));
        Hex("Data", 40);
        End();
      }
    }
    Section(base + "\\Quorvane\\TQ19KVN");
    Sz("Version", "7.2");
    End();
    out_.deletions.push_back({HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvane\\TQ19KVN"});
    const std::string uninstall = base + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    for (int i = 0; i < 300; ++i) {
      Section(uninstall + "\\" + Word());
      Sz("DisplayName", Word() + " " + std::to_string(i));
      Sz("UninstallString", "C:\\WINDOWS\\UNINST.EXE -f" + Word());
      End();
    }
    Section(uninstall + "\\TQ19KVN");
    Sz("DisplayName", "TQ72 PCI Modem");
    End();
    out_.deletions.push_back({HKEY_LOCAL_MACHINE, uninstall.substr(19) + "\\TQ19KVN"});
    Section(base + "\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
    for (int i = 0; i < 3000; ++i) Dword("C:\\WINDOWS\\SYSTEM\\" + Word() + ".DLL", 1);
    End();
  }

  // HKEY_USERS\.Default: per-user settings, MRU lists in binary.
  void Users() {
    const std::string base = "HKEY_USERS\\.Default\\Software";
    for (int i = 0; i < 10000; ++i) {
      const std::string key =
          base + "\\" + Word() + "\\" + Word() + "\\Settings" + std::to_string(i);
      Section(key);
      Sz("LastPath", "C:\\My Documents\\" + Word());
      Hex("WindowPos", 28);
      Hex("MRU", 280);
      End();
      if (i == 4321) out_.deletions.push_back({HKEY_USERS, key.substr(11)});
    }
    Section(base + "\\Quorvane\\TQ19KVN\\Dialer");
    Sz("Last", "555-0100");
    End();
    out_.deletions.push_back({HKEY_USERS, ".Default\\Software\\Quorvane"});
    Section("HKEY_USERS\\.Default\\Control Panel\\Sounds\\TQ72Ring");
    End();
    out_.deletions.push_back({HKEY_USERS, ".Default\\Control Panel\\Sounds\\TQ72Ring"});
    Section("HKEY_USERS\\.Default\\AppEvents\\Schemes\\Apps\\TQ72");
    End();
    out_.deletions.push_back({HKEY_USERS, ".Default\\AppEvents\\Schemes\\Apps\\TQ72"});
  }

  Random rng_{0x7172u};
  Generated out_;
};

// The scratch machine folder, made once.
struct Machine {
  Generated registry = Generator().Run();
  const char *base = getenv("TQ72_BENCH_DIR");
  scratch::MachineFolder folder{"REGEDIT4\r\n", base ? base : ""};
  const int dirFd = folder.Fd();

  Machine() {
    Restore();
    std::fprintf(stderr, "registry: %.1f MB, %zu sections, %zu deletions, in %s\n",
                 registry.text.size() / 1e6, registry.keys, registry.deletions.size(),
                 folder.Path().c_str());
  }
  // Puts the original registry.reg back, synced, with no journal.
  void Restore() {
    const int fd = openat(dirFd, "registry.reg", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::size_t done = 0;
    while (done < registry.text.size()) {
      const ssize_t n = write(fd, registry.text.data() + done, registry.text.size() - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    fsync(fd);
    close(fd);
    unlinkat(dirFd, "registry.reg.journal", 0);
    fsync(dirFd);
  }
};

Machine &TheMachine() {
  static Machine machine;
  return machine;
}

void Check(benchmark::State &state, bool ok, const std::string &what) {
  if (!ok) state.SkipWithError(what.c_str());
}

// Parse only: the whole registry's text into a tree.
void BM_Parse(benchmark::State &state) {
  Machine &m = TheMachine();
  for (auto _ : state) {
    std::string error;
    hosted::Tree tree;
    hosted::Regedit4Store store;
    Check(state, store.Parse(m.registry.text, "registry.reg", &tree, &error), error);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.registry.text.size()));
}

// The user said no: Open (as a start opens) + Fold with no change.
void BM_Declined(benchmark::State &state) {
  Machine &m = TheMachine();
  for (auto _ : state) {
    hosted::Registry registry;
    std::string error;
    Check(state, registry.Open(m.dirFd, &error), error);
    Check(state, registry.Fold(&error), error);
  }
}

// The uninstall ran: Open + 12 durable deletions + Fold.
void BM_Full(benchmark::State &state) {
  Machine &m = TheMachine();
  for (auto _ : state) {
    state.PauseTiming();
    m.Restore();
    state.ResumeTiming();
    hosted::Registry registry;
    std::string error;
    Check(state, registry.Open(m.dirFd, &error), error);
    for (const auto &[root, path] : m.registry.deletions) {
      const LONG status = registry.DeleteKey(root, path.c_str());
      Check(state, status == ERROR_SUCCESS, "DeleteKey " + path + ": " + std::to_string(status));
    }
    Check(state, registry.Fold(&error), error);
  }
}

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Declined)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_Full)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheMachine();  // generate before timing anything
  RatioReporter reporter({{"BM_Full", "BM_Declined", "full/declined", "limit about 3"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
