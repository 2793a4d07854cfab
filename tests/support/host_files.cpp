#include "support/host_files.h"

#include <fstream>
#include <sstream>

namespace scratch {

std::optional<std::string> ReadHostFile(const std::filesystem::path &path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteHostFile(const std::filesystem::path &path, const std::string &bytes) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return out.good();
}

}  // namespace scratch
