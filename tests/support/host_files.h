// Host files read and written whole, for every suite, fuzz target and
// benchmark (standard library only, on every platform).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace scratch {

// A host file's bytes; nothing when it is not a regular file.
std::optional<std::string> ReadHostFile(const std::filesystem::path &path);
// Writes a host file whole, making its folders; false when the host cannot.
bool WriteHostFile(const std::filesystem::path &path, const std::string &bytes);

}  // namespace scratch
