// The check both platform implementations apply to every registry path, so
// that a value read from the registry can never address a parent branch. Part
// of the contract (platform.h includes it): the removal logic applies it to a
// value it reads, and the tests' observer to every path the logic uses. A
// plain loop, as the Windows program needs: no C runtime, no start-up code.
#pragma once

namespace platform {

// True when path is null or empty (the key itself), or one or more non-empty
// names joined by single backslashes. False for a leading, trailing or
// doubled backslash.
bool IsWellFormedKeyPath(const char *path);
// The same for the length characters at path, which need no terminator.
bool IsWellFormedKeyPath(const char *path, unsigned long length);

}  // namespace platform
