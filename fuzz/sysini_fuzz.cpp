// The streaming system.ini rewrite, through the hosted platform on a scratch
// machine, against the whole-file model: the same bytes for any input, no
// handle left open, no system.new left behind.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "interposer/interposer.h"
#include "hosted/hosted.h"
#include "support/sysini_model.h"
#include "sysini/system_ini.h"

namespace fs = std::filesystem;

namespace {

const fs::path &Machine() {
  static fs::path root;
  if (!root.empty()) return root;
  std::string pattern = (fs::temp_directory_path() / "tq72-fuzz-XXXXXX").string();
  FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  root = pattern;
  fs::create_directories(root / "WINDOWS");
  std::ofstream(root / "registry.reg", std::ios::binary) << "REGEDIT4\r\n\r\n";
  std::string error;
  FUZZ_CHECK(hosted::Start(root.string(), &error), "%s", error.c_str());
  std::atexit([] {
    std::string ignored;
    hosted::Stop(&ignored);
    fs::remove_all(root);
  });
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string before(reinterpret_cast<const char *>(data), size);
  const fs::path &root = Machine();
  std::ofstream(root / "WINDOWS" / "SYSTEM.INI", std::ios::binary | std::ios::trunc) << before;
  interposer::Interposer layer;  // to see what the rewrite leaves open
  RewriteSystemIni();
  std::ifstream in(root / "WINDOWS" / "SYSTEM.INI", std::ios::binary);
  std::ostringstream after;
  after << in.rdbuf();
  FUZZ_CHECK(after.str() == scratch::ModelRewrite(before), "rewrite differs from the model");
  FUZZ_CHECK(layer.OpenFiles() == 0, "a handle was left open");
  FUZZ_CHECK(!fs::exists(root / "WINDOWS" / "system.new"), "system.new left behind");
  return 0;
}
