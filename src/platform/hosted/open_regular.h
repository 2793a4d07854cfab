// Opening a file of the machine folder so that nothing but a plain file of
// the folder is ever opened: no link is followed, and no device, FIFO or
// socket is opened at all (opening one can block, take a terminal or start
// a device doing something), since the type is checked before the open and
// again on what was opened.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace hosted {

enum class Links {
  Any,  // a file with other names is fine (it is only read)
  One,  // a file with other names is refused: it is written in place, and
        // another name may be outside the folder
};

// Opens dirFd/name (a name in that folder, no '/') with flags (O_RDONLY,
// O_WRONLY or O_RDWR, optionally O_CREAT and O_EXCL); O_NOFOLLOW, O_NOCTTY
// and O_CLOEXEC are always added, O_TRUNC is not allowed. With O_CREAT a
// missing file is created with mode; an existing entry is opened only when it
// is a regular file. Returns the descriptor (blocking), or -1 with errno:
// ELOOP a link, EISDIR a folder, EINVAL another kind of file, EMLINK other
// names with Links::One, EEXIST with O_EXCL, or the errno of the failing call.
int OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode, Links links);

// Removes from the folder dirFd the plain files whose names begin with
// prefix: what a killed run left behind. Links (never their targets),
// folders and devices of that name stay. Failures are ignored: a leftover
// that cannot go does no harm.
void RemoveRegularFilesWithPrefix(int dirFd, std::string_view prefix);

}  // namespace hosted
