// The machine folder's files under Windows paths: name matching, confinement
// to the folder, "in use", atomic copies. Tested on WindowsFiles itself so that
// no registry is needed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "hosted/windows_files.h"
#include "support/scratch_machine.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::size_t Entries(const fs::path &dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] auto &entry : fs::directory_iterator(dir)) ++n;
  return n;
}

// A machine plus a folder beside it that no call may touch.
class WindowsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::create_directory(outside_));
    std::ofstream(outside_ / "secret.txt", std::ios::binary) << "outside";
    outsideBefore_ = scratch::SnapshotFolder(outside_);
    std::string error;
    ASSERT_TRUE(files_.Open(machine_.Folder().string(), &error)) << error;
  }
  void TearDown() override { files_.Close(); }

  // The whole content through the platform calls; "<fail>" when it cannot be opened.
  std::string ReadAll(const char *path) {
    HANDLE file = files_.Create(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return "<fail>";
    std::string content;
    char buffer[7];  // small, so reads are split
    DWORD got = 0;
    while (files_.Read(file, buffer, sizeof buffer, &got) && got > 0) content.append(buffer, got);
    EXPECT_TRUE(files_.CloseHandle(file));
    return content;
  }
  bool WriteAll(const char *path, std::string_view bytes) {
    HANDLE file = files_.Create(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = files_.Write(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written) &&
              written == bytes.size();
    return files_.CloseHandle(file) && ok;
  }
  void ExpectOutsideIntact() { EXPECT_EQ(scratch::SnapshotFolder(outside_), outsideBefore_); }
  // Below the machine folder, on the host.
  std::string Host(const std::string &relative) const {
    return (machine_.Folder() / relative).string();
  }
  bool Exists(const std::string &relative) const {
    std::error_code error;
    return fs::exists(fs::symlink_status(Host(relative), error));
  }

  scratch::Machine machine_;
  fs::path outside_ = machine_.Folder().parent_path() / "outside";  // removed with the machine
  std::map<std::string, std::string> outsideBefore_;
  hosted::WindowsFiles files_;
};

// Paths that could escape the folder or be cut short are refused outright.
TEST(SplitWindowsPathTest, RefusesAnythingButPlainElementsBelowC) {
  for (const char *bad :
       {"", "C:\\", "D:\\WINDOWS\\SYSTEM.INI", "\\WINDOWS\\SYSTEM.INI", "C:WINDOWS\\SYSTEM.INI",
        "C:/WINDOWS/SYSTEM.INI", "C:\\WINDOWS\\", "C:\\WINDOWS\\\\SYSTEM.INI",
        "C:\\WINDOWS\\.\\SYSTEM.INI", "C:\\..\\secret.txt", "C:\\WINDOWS/../../secret.txt"})
    EXPECT_FALSE(hosted::SplitWindowsPath(bad).has_value()) << bad;
  EXPECT_EQ(hosted::SplitWindowsPath("c:\\WINDOWS\\tqc.cpl"),
            (std::vector<std::string>{"WINDOWS", "tqc.cpl"}));
  std::string longest = "C:\\" + std::string(MAX_PATH - 4, 'a');
  EXPECT_TRUE(hosted::SplitWindowsPath(longest.c_str()).has_value());
  EXPECT_FALSE(hosted::SplitWindowsPath((longest + 'a').c_str()).has_value());
}

// Both cases of system.ini side by side: each exact name must win whichever
// the folder lists first; a folded name takes the byte-wise smallest.
TEST_F(WindowsFilesTest, ReadsTheFileTheNameMeans) {
  for (const char *file : {"SYSTEM.INI", "system.ini", "SYSTEM/TQC.CPL", "caf\xe9.txt"})
    machine_.WriteInFolder(std::string("WINDOWS/") + file, file);
  std::pair<const char *, const char *> cases[] = {
      {"C:\\WINDOWS\\SYSTEM.INI", "SYSTEM.INI"}, {"C:\\WINDOWS\\system.ini", "system.ini"},
      {"C:\\WINDOWS\\System.Ini", "SYSTEM.INI"}, {"c:\\windows\\system\\tqc.cpl", "SYSTEM/TQC.CPL"},
      {"C:\\WINDOWS\\CAF\xc9.TXT", "caf\xe9.txt"},  // as the registry's names fold
      {"C:\\WINNT\\SYSTEM.INI", "<fail>"},       {"C:\\WINDOWS\\SYSTEM", "<fail>"}};
  for (auto [path, expected] : cases) EXPECT_EQ(ReadAll(path), expected) << path;
}

// A write to an existing file under another case must not leave a second
// file beside it; a fifo where a file should be fails instead of blocking.
TEST_F(WindowsFilesTest, WritesReuseTheFoldedNameAndOnlyRegularFilesOpen) {
  machine_.WriteInFolder("WINDOWS/SYSTEM.INI", "old content");
  ASSERT_TRUE(WriteAll("C:\\WINDOWS\\system.ini", "abc"));
  EXPECT_FALSE(Exists("WINDOWS/system.ini"));
  EXPECT_EQ(machine_.ReadInFolder("WINDOWS/SYSTEM.INI"), "abc");
  ASSERT_EQ(mkfifo(Host("WINDOWS/WIN.INI").c_str(), 0644), 0);
  EXPECT_EQ(ReadAll("C:\\WINDOWS\\WIN.INI"), "<fail>");
  EXPECT_FALSE(WriteAll("C:\\WINDOWS\\WIN.INI", "x"));
}

// A device node, FIFO or socket where a file should be is never even opened
// (an open can block, take a terminal, or set a device going), whatever
// the call: inotify would see the open.
TEST_F(WindowsFilesTest, NoCallOpensAnythingButARegularFile) {
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  for (const char *name : {"system.new", "SYSTEM.INI"}) {
    SCOPED_TRACE(name);
    const std::string host = Host(std::string("WINDOWS/") + name);
    // A character device like /dev/null where we can make one (root), else a FIFO.
    if (::mknod(host.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
      ASSERT_EQ(::mkfifo(host.c_str(), 0666), 0);
    }
    ASSERT_GE(::inotify_add_watch(watch, host.c_str(), IN_OPEN), 0);
    machine_.WriteInFolder("WINDOWS/OTHER.INI", "other");
    const std::string windows = std::string("C:\\WINDOWS\\") + name;
    for (DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(CREATE_ALWAYS)})
      EXPECT_EQ(files_.Create(windows.c_str(), GENERIC_READ | GENERIC_WRITE, disposition),
                INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files_.Copy(windows.c_str(), "C:\\WINDOWS\\COPY.INI", false));
    EXPECT_FALSE(files_.Delete(windows.c_str()));
    files_.Copy("C:\\WINDOWS\\OTHER.INI", windows.c_str(), false);  // replaces the entry
    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < got;
         at += sizeof(inotify_event) + ((inotify_event *)(events + at))->len)
      EXPECT_EQ(((inotify_event *)(events + at))->mask & IN_OPEN, 0u) << "opened";
    fs::remove(host);
  }
  ::close(watch);
}

// ---------------------------------------------------------------- confinement

struct LinkCase {
  const char *name;
  const char *link;         // below the machine folder
  bool toDirectory;         // link to the outside folder, else to secret.txt
  const char *windowsPath;  // a path through or at the link
};

void PrintTo(const LinkCase &c, std::ostream *out) { *out << c.name; }

class ConfinementTest : public WindowsFilesTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(ConfinementTest, NoCallReachesOutside) {
  const LinkCase &c = GetParam();
  machine_.WriteInFolder("inside.txt", "inside");
  fs::remove_all(Host(c.link));
  fs::create_symlink(c.toDirectory ? outside_ : outside_ / "secret.txt", Host(c.link));
  EXPECT_EQ(ReadAll(c.windowsPath), "<fail>");
  EXPECT_FALSE(WriteAll(c.windowsPath, "overwritten"));
  EXPECT_FALSE(files_.Copy(c.windowsPath, "C:\\copy.txt", false));
  EXPECT_FALSE(Exists("copy.txt"));
  ExpectOutsideIntact();
  // Copying onto the link, or deleting it, may only replace or remove the link.
  files_.Copy("C:\\inside.txt", c.windowsPath, false);
  files_.Delete(c.windowsPath);
  ExpectOutsideIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Links, ConfinementTest,
    ::testing::Values(
        LinkCase{"LinkedFile", "WINDOWS/SYSTEM.INI", false, "C:\\WINDOWS\\system.ini"},
        LinkCase{"LinkedFolder", "WINDOWS/Link", true, "C:\\WINDOWS\\LINK\\SECRET.TXT"},
        LinkCase{"LinkedWindows", "WINDOWS", true, "C:\\WINDOWS\\secret.txt"},
        LinkCase{"LinkedRegistry", "registry.reg", false, "C:\\registry.reg"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WindowsFilesTest, CopyOverOrDeleteOfALinkTouchesTheLinkOnly) {
  machine_.WriteInFolder("WINDOWS/SYSTEM.ONE", "rewritten");
  fs::create_symlink(outside_ / "secret.txt", Host("WINDOWS/SYSTEM.INI"));
  EXPECT_TRUE(files_.Copy("C:\\WINDOWS\\SYSTEM.ONE", "C:\\WINDOWS\\SYSTEM.INI", false));
  EXPECT_FALSE(fs::is_symlink(Host("WINDOWS/SYSTEM.INI")));
  EXPECT_EQ(machine_.ReadInFolder("WINDOWS/SYSTEM.INI"), "rewritten");
  fs::create_symlink(outside_ / "secret.txt", Host("WINDOWS/SYSTEM/TQC.CPL"));
  EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM\\tqc.cpl"));
  EXPECT_FALSE(fs::is_symlink(Host("WINDOWS/SYSTEM/TQC.CPL")));
  // A hard link shares its bytes with the outside: replaced, never written in place.
  fs::create_hard_link(outside_ / "secret.txt", Host("WINDOWS/SYSTEM.NEW"));
  EXPECT_EQ(files_.Create("C:\\WINDOWS\\SYSTEM.NEW", GENERIC_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteAll("C:\\WINDOWS\\SYSTEM.NEW", "rewritten"));
  ExpectOutsideIntact();
}

// ---------------------------------------------------------------- in use

TEST_F(WindowsFilesTest, LockedOrOpenFilesAreInUseUntilReleased) {
  for (int lock : {LOCK_EX, LOCK_SH}) {
    machine_.WriteInFolder("WINDOWS/SYSTEM/TQC.CPL", "applet");
    // Another open file description, as a Control Panel process would hold.
    int holder = ::open(Host("WINDOWS/SYSTEM/TQC.CPL").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, lock), 0);
    EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
    EXPECT_EQ(machine_.ReadInFolder("WINDOWS/SYSTEM/TQC.CPL"), "applet");
    ::close(holder);
    EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
    EXPECT_FALSE(Exists("WINDOWS/SYSTEM/TQC.CPL"));
  }
  // A step that forgot to close its own handle must fail here as on Windows 98.
  machine_.WriteInFolder("WINDOWS/SYSTEM.NEW", "new");
  HANDLE file = files_.Create("C:\\WINDOWS\\system.new", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM.NEW"));
  EXPECT_TRUE(files_.CloseHandle(file));
  EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM.NEW"));
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM.NEW")) << "already gone";
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\Help"));
  EXPECT_TRUE(fs::is_directory(Host("WINDOWS/Help")));
}

TEST_F(WindowsFilesTest, CopyReplacesTheTargetWholeOrNotAtAll) {
  machine_.WriteInFolder("WINDOWS/SYSTEM.INI", "old");
  machine_.WriteInFolder("WINDOWS/system.new", "new");
  std::tuple<const char *, const char *, bool> failing[] = {
      {"C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\system.ini", true},
      {"C:\\WINDOWS\\WIN.INI", "C:\\WINDOWS\\SYSTEM.INI", false},
      {"C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\SYSTEM", false},
      {"C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINNT\\SYSTEM.INI", false}};
  for (auto [from, to, failIfExists] : failing) {
    EXPECT_FALSE(files_.Copy(from, to, failIfExists)) << from << " -> " << to;
    EXPECT_EQ(machine_.ReadInFolder("WINDOWS/SYSTEM.INI"), "old");
    EXPECT_TRUE(fs::is_directory(Host("WINDOWS/SYSTEM")));
  }
  // A second name of the old file keeps the old bytes: the target was
  // replaced by a rename, never rewritten in place.
  fs::create_hard_link(Host("WINDOWS/SYSTEM.INI"), Host("old.ini"));
  ASSERT_TRUE(files_.Copy("C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\system.ini", false));
  EXPECT_EQ(machine_.ReadInFolder("WINDOWS/SYSTEM.INI"), "new");
  EXPECT_FALSE(Exists("WINDOWS/system.ini"));
  EXPECT_EQ(machine_.ReadInFolder("old.ini"), "old");
  EXPECT_EQ(Entries(Host("WINDOWS")), 4u)
      << "SYSTEM, Help, SYSTEM.INI, system.new: no temporary left";
}

}  // namespace
