// The whole uninstaller on a Windows 98 drive (MSDOS.SYS naming C:\WIN98,
// HKEY_LOCAL_MACHINE in WIN98\SYSTEM.DAT), with the modem's keys in the
// genuine Windows Me file (1.2 MB) and in that file grown to about 10 MB:
// a full run (Yes, every step, OK) against a declined one (No), and against
// copying SYSTEM.DAT and syncing the copy, the floor of any change that keeps
// a backup. A full run reads and checks the file, copies it to SYSTEM.Q00,
// and writes each deletion in place, synced.
//
//   drive_bench [--benchmark_...]   prints the table, then the ratios
//
// TQ72_BENCH_DIR=/some/dir puts the drives there instead of the system's
// temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "hosted_run.h"
#include "ratio_reporter.h"
#include "support/creg_file.h"
#include "support/drive.h"
#include "support/host_files.h"
#include "support/machine_folder.h"
#include "support/modem_fixture.h"

namespace {

namespace fs = std::filesystem;

// COM classes, the bulk of a large registry, added as Windows adds keys
// until the file holds about `bytes`.
std::string Grown(std::string systemDat, std::size_t bytes) {
  scratch::CregWriter writer(std::move(systemDat));
  const std::vector<hosted::creg::Value> values = {
      {1, "", "C:\\WINDOWS\\SYSTEM\\COMPONENT.DLL"},
      {1, "ThreadingModel", "Apartment"},
      {3, "Flags", std::string(32, '\x7e')},
  };
  char path[128];
  for (std::size_t i = 0; writer.Bytes().size() < bytes; ++i) {
    // Groups keep each chain to a few hundred subkeys, as in real files.
    std::snprintf(
        path, sizeof path,
        "Software\\Classes\\CLSID%02zu\\{%08zX-7A51-4C2E-9B3D-02%010zX}\\InprocServer32", i % 64,
        i * 2654435761u % 0xFFFFFFFFu, i);
    writer.AddKey(path, values);
  }
  return writer.Bytes();
}

class Drive {
 public:
  explicit Drive(std::string systemDat, const char *base)
      : systemDat_(std::move(systemDat)), folder_("", base ? base : "") {
    fs::remove(dir_ / "registry.reg");
    fs::remove_all(dir_ / "WINDOWS");
    std::fprintf(stderr, "SYSTEM.DAT: %.1f MB in %s\n", systemDat_.size() / 1e6, dir_.c_str());
  }

  // The drive as installed, no backup or journal left, and everything on
  // disk, so that no timed part writes back what this wrote.
  void Restore() {
    for (const scratch::File &file : scratch::DriveFiles())
      if (!folder_.Write(file.path, file.bytes)) std::abort();
    if (!folder_.Write("WIN98/SYSTEM.DAT", systemDat_)) std::abort();
    fs::remove(dir_ / "WIN98" / "SYSTEM.Q00");
    fs::remove(dir_ / "WIN98" / "SYSTEM.COPY");
    fs::remove(dir_ / "registry.reg.journal");
    ::sync();
  }

  const fs::path &Path() const { return dir_; }

  // cp WIN98/SYSTEM.DAT WIN98/SYSTEM.COPY, then the copy synced.
  bool Copy() const {
    const fs::path copy = dir_ / "WIN98" / "SYSTEM.COPY";
    std::error_code error;
    if (!fs::copy_file(dir_ / "WIN98" / "SYSTEM.DAT", copy, fs::copy_options::overwrite_existing,
                       error))
      return false;
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return synced;
  }

  // The full run's end, checked once: the backup holds the file as it was.
  bool BackedUp() const {
    return scratch::ReadHostFile(dir_ / "WIN98" / "SYSTEM.Q00") == systemDat_;
  }

 private:
  std::string systemDat_;
  scratch::MachineFolder folder_;
  const fs::path &dir_ = folder_.Path();
};

Drive &TheDrive(int size) {
  static Drive genuine(scratch::SystemDat(), std::getenv("TQ72_BENCH_DIR"));
  static Drive large(Grown(scratch::SystemDat(), 10'000'000), std::getenv("TQ72_BENCH_DIR"));
  return size == 0 ? genuine : large;
}

void RunWith(benchmark::State &state, int size, session::Answer first, int expectedStatus) {
  Drive &drive = TheDrive(size);
  for (auto _ : state) {
    state.PauseTiming();
    drive.Restore();
    state.ResumeTiming();
    if (RunUninstallOn(drive.Path().string(), first, state) != expectedStatus)
      state.SkipWithError("unexpected exit status");
  }
  if (expectedStatus == 1 && !drive.BackedUp()) state.SkipWithError("no backup of SYSTEM.DAT");
}

void BM_Declined(benchmark::State &state, int size) {
  RunWith(state, size, session::Answer::No, 0);
}
void BM_Full(benchmark::State &state, int size) { RunWith(state, size, session::Answer::Yes, 1); }
void BM_CopyAndSync(benchmark::State &state, int size) {
  Drive &drive = TheDrive(size);
  for (auto _ : state) {
    state.PauseTiming();
    drive.Restore();
    state.ResumeTiming();
    if (!drive.Copy()) state.SkipWithError("cannot copy SYSTEM.DAT");
  }
}

// Each benchmark on each file, named BM_Full/genuine and so on.
void Register() {
  const std::pair<const char *, void (*)(benchmark::State &, int)> benchmarks[] = {
      {"BM_Declined", BM_Declined}, {"BM_Full", BM_Full}, {"BM_CopyAndSync", BM_CopyAndSync}};
  for (int size : {0, 1})
    for (auto [name, function] : benchmarks)
      benchmark::RegisterBenchmark((name + std::string(size == 0 ? "/genuine" : "/large")).c_str(),
                                   function, size)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(2.0);
}

}  // namespace

int main(int argc, char **argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheDrive(0);  // make the files before timing anything
  TheDrive(1);
  RatioReporter reporter({
      {"BM_Full/genuine", "BM_Declined/genuine", "full/declined, 1.2 MB SYSTEM.DAT",
       "limit about 3"},
      {"BM_Full/genuine", "BM_CopyAndSync/genuine", "full/(cp SYSTEM.DAT + sync), 1.2 MB", ""},
      {"BM_Full/large", "BM_Declined/large", "full/declined, 10 MB SYSTEM.DAT", "limit about 3"},
      {"BM_Full/large", "BM_CopyAndSync/large", "full/(cp SYSTEM.DAT + sync), 10 MB", ""},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
