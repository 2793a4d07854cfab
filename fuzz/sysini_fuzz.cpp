// The streaming system.ini rewrite, through the hosted platform on a scratch
// machine, against the whole-file model: the same bytes for any input, no
// handle left open, no system.new left behind.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_check.h"
#include "hosted/hosted.h"
#include "interposer/interposer.h"
#include "support/host_files.h"
#include "support/machine_folder.h"
#include "support/sysini_model.h"
#include "sysini/system_ini.h"

namespace fs = std::filesystem;

namespace {

const fs::path &Machine() {
  static const scratch::MachineFolder machine("REGEDIT4\r\n\r\n");
  static bool started = false;
  if (!started) {
    std::string error;
    FUZZ_CHECK(hosted::Start(machine.Path().string(), &error), "%s", error.c_str());
    started = true;
    std::atexit([] {
      std::string ignored;
      hosted::Stop(&ignored);
    });
  }
  return machine.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string before(reinterpret_cast<const char *>(data), size);
  const fs::path &root = Machine();
  FUZZ_CHECK(scratch::WriteHostFile(root / "WINDOWS" / "SYSTEM.INI", before), "SYSTEM.INI");
  interposer::Interposer layer;  // to see what the rewrite leaves open
  RewriteSystemIni();
  const auto after = scratch::ReadHostFile(root / "WINDOWS" / "SYSTEM.INI");
  FUZZ_CHECK(after == scratch::ModelRewrite(before), "rewrite differs from the model");
  FUZZ_CHECK(layer.OpenFiles() == 0, "a handle was left open");
  FUZZ_CHECK(!fs::exists(root / "WINDOWS" / "system.new"), "system.new left behind");
  return 0;
}
