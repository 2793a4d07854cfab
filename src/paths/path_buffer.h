// Directory queries and path building in the 256-character buffers that the
// file steps use. A path that cannot be built exactly is never built at all:
// a truncated path could name another file.
#pragma once

#include <cstddef>

#include "platform/platform.h"

inline constexpr std::size_t PathBufferSize = 256;

using DirectoryQuery = platform::UINT (*)(platform::LPSTR, platform::UINT);

// Fills directory (PathBufferSize characters) from GetWindowsDirectoryA or
// GetSystemDirectoryA. False when the query fails or its answer does not fit.
bool QueryDirectory(DirectoryQuery query, char *directory);

// path = directory + name, in PathBufferSize characters. False, with path
// left empty, when the result and its terminator do not fit.
bool BuildPath(char *path, const char *directory, const char *name);
