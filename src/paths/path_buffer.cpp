#include "paths/path_buffer.h"

#include <cstring>

bool QueryDirectory(DirectoryQuery query, char *directory) {
  std::memset(directory, 0, PathBufferSize);
  platform::UINT length = query(directory, static_cast<platform::UINT>(PathBufferSize));
  if (length == 0 || length >= PathBufferSize) return false;
  // The answer must be exactly the terminated text the call reported.
  return directory[length] == '\0' && std::strlen(directory) == length;
}

bool BuildPath(char *path, const char *directory, const char *name) {
  std::size_t directoryLength = std::strlen(directory);
  std::size_t nameLength = std::strlen(name);
  path[0] = '\0';
  if (directoryLength + nameLength + 1 > PathBufferSize) return false;
  std::memcpy(path, directory, directoryLength);
  std::memcpy(path + directoryLength, name, nameLength + 1);
  return true;
}
