// The machine folder's files under Windows paths: name matching, confinement
// to the folder, "in use", atomic copies. Tested on HostFiles itself so that
// no registry is needed.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/hosted/host_files.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::string Slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// A machine plus a folder beside it that no call may touch.
class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tq72-outside-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    outside_ = pattern;
    std::ofstream(outside_ / "secret.txt", std::ios::binary) << "outside";
    std::string error;
    ASSERT_TRUE(files_.Open(machine_.Root(), &error)) << error;
  }
  void TearDown() override {
    files_.Close();
    fs::remove_all(outside_);
  }

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
  void ExpectOutsideIntact() {
    EXPECT_EQ(Slurp(outside_ / "secret.txt"), "outside");
    std::size_t entries = 0;
    for ([[maybe_unused]] auto &entry : fs::directory_iterator(outside_)) ++entries;
    EXPECT_EQ(entries, 1u) << "something was created outside the machine folder";
  }

  testsupport::TempMachine machine_;
  fs::path outside_;
  hosted::HostFiles files_;
};

// --------------------------------------------------------------- path forms

class RejectedPathTest : public ::testing::TestWithParam<const char *> {};

TEST_P(RejectedPathTest, IsNotAWindowsPathBelowC) {
  EXPECT_FALSE(hosted::SplitWindowsPath(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RejectedPathTest,
    ::testing::Values("", "C:", "C:\\", "C:\\\\", "D:\\WINDOWS\\SYSTEM.INI",
                      "WINDOWS\\SYSTEM.INI", "\\WINDOWS\\SYSTEM.INI", "C:WINDOWS\\SYSTEM.INI",
                      "C:/WINDOWS/SYSTEM.INI", "C:\\WINDOWS\\", "C:\\WINDOWS\\\\SYSTEM.INI",
                      "C:\\WINDOWS\\.\\SYSTEM.INI", "C:\\WINDOWS\\..\\registry.reg",
                      "C:\\..\\secret.txt", "C:\\WINDOWS/../../secret.txt",
                      "C:\\WINDOWS\\SYSTEM\\.."));

TEST(SplitWindowsPathTest, AcceptsEitherDriveCaseAndRefusesMaxPath) {
  auto elements = hosted::SplitWindowsPath("c:\\WINDOWS\\SYSTEM\\tqc.cpl");
  ASSERT_TRUE(elements.has_value());
  EXPECT_EQ(*elements, (std::vector<std::string>{"WINDOWS", "SYSTEM", "tqc.cpl"}));
  std::string longest = "C:\\" + std::string(MAX_PATH - 4, 'a');
  EXPECT_TRUE(hosted::SplitWindowsPath(longest.c_str()).has_value());
  longest += 'a';
  EXPECT_FALSE(hosted::SplitWindowsPath(longest.c_str()).has_value());
}

// ------------------------------------------------------------- name matching

struct MatchCase {
  const char *name;
  std::vector<const char *> hostFiles;  // below WINDOWS, content = own name
  const char *windowsPath;
  const char *expected;  // the host file read, or "<fail>"
};

class NameMatchTest : public HostFilesTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(NameMatchTest, ReadsTheFileTheNameMeans) {
  for (const char *file : GetParam().hostFiles)
    machine_.WriteFile(std::string("WINDOWS/") + file, file);
  EXPECT_EQ(ReadAll(GetParam().windowsPath), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NameMatchTest,
    ::testing::Values(
        MatchCase{"FoldedFile", {"SYSTEM.INI"}, "C:\\WINDOWS\\system.ini", "SYSTEM.INI"},
        MatchCase{"FoldedFolders", {"SYSTEM/TQC.CPL"}, "c:\\windows\\system\\tqc.cpl",
                  "SYSTEM/TQC.CPL"},
        MatchCase{"ExactWinsUpper", {"system.ini", "SYSTEM.INI"}, "C:\\WINDOWS\\SYSTEM.INI",
                  "SYSTEM.INI"},
        MatchCase{"ExactWinsLower", {"SYSTEM.INI", "system.ini"}, "C:\\WINDOWS\\system.ini",
                  "system.ini"},
        MatchCase{"SmallestOfFolded", {"system.ini", "SYSTEM.INI"}, "C:\\WINDOWS\\System.Ini",
                  "SYSTEM.INI"},
        MatchCase{"HighBytesExact", {"caf\xe9.txt"}, "C:\\WINDOWS\\CAF\xc9.TXT", "<fail>"},
        MatchCase{"Missing", {"SYSTEM.INI"}, "C:\\WINDOWS\\WIN.INI", "<fail>"},
        MatchCase{"MissingFolder", {"SYSTEM.INI"}, "C:\\WINNT\\SYSTEM.INI", "<fail>"},
        MatchCase{"FolderIsNoFile", {"SYSTEM/TQC.CPL"}, "C:\\WINDOWS\\SYSTEM", "<fail>"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostFilesTest, NewFileKeepsTheGivenCaseAndAnExistingOneIsReused) {
  ASSERT_TRUE(WriteAll("C:\\WINDOWS\\System.New", "new"));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/System.New"), "new");
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "old content");
  ASSERT_TRUE(WriteAll("C:\\WINDOWS\\system.ini", "short"));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), "short");
  EXPECT_FALSE(machine_.Exists("WINDOWS/system.ini"));
}

TEST_F(HostFilesTest, HandlesReadWriteAndCloseLikeWin32) {
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "abc");
  HANDLE in = files_.Create("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  EXPECT_NE(in, nullptr);
  EXPECT_EQ(files_.OpenHandleCount(), 1u);
  char buffer[8];
  DWORD done = 99;
  EXPECT_FALSE(files_.Write(in, "x", 1, &done)) << "read-only handle";
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(files_.Read(in, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "abc");
  EXPECT_TRUE(files_.Read(in, buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 0u) << "end of file";
  EXPECT_TRUE(files_.CloseHandle(in));
  EXPECT_FALSE(files_.CloseHandle(in)) << "closed twice";
  EXPECT_FALSE(files_.Read(in, buffer, sizeof buffer, &done));
  EXPECT_EQ(files_.OpenHandleCount(), 0u);
  EXPECT_EQ(files_.Create("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE)
      << "truncation needs write access";
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), "abc");
}

TEST_F(HostFilesTest, OnlyRegularFilesOpenAndAFifoNeverBlocks) {
  ASSERT_EQ(mkfifo(machine_.HostPath("WINDOWS/SYSTEM.INI").c_str(), 0644), 0);
  EXPECT_EQ(ReadAll("C:\\WINDOWS\\SYSTEM.INI"), "<fail>");
  EXPECT_FALSE(WriteAll("C:\\WINDOWS\\SYSTEM.INI", "x"));
  EXPECT_EQ(ReadAll("C:\\WINDOWS\\SYSTEM"), "<fail>");
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM"));
  EXPECT_TRUE(fs::is_directory(machine_.HostPath("WINDOWS/SYSTEM")));
}

// --------------------------------------------------------------- confinement

// Every call on a path through a link fails or touches the link only.
struct LinkCase {
  const char *name;
  const char *link;    // below the machine folder
  bool toDirectory;    // link to the outside folder, else to secret.txt
  const char *windowsPath;  // a path through or at the link
};

class ConfinementTest : public HostFilesTest, public ::testing::WithParamInterface<LinkCase> {
 protected:
  void MakeLink() {
    const LinkCase &c = GetParam();
    fs::path target = c.toDirectory ? outside_ : outside_ / "secret.txt";
    fs::remove_all(machine_.HostPath(c.link));
    fs::create_symlink(target, machine_.HostPath(c.link));
  }
};

TEST_P(ConfinementTest, NoCallReachesOutside) {
  machine_.WriteFile("inside.txt", "inside");
  MakeLink();
  const char *path = GetParam().windowsPath;
  EXPECT_EQ(ReadAll(path), "<fail>");
  EXPECT_FALSE(WriteAll(path, "overwritten"));
  EXPECT_FALSE(files_.Copy(path, "C:\\copy.txt", false));
  EXPECT_FALSE(machine_.Exists("copy.txt"));
  ExpectOutsideIntact();
  // Copying onto the link, or deleting it, may only replace or remove the link.
  files_.Copy("C:\\inside.txt", path, false);
  files_.Delete(path);
  ExpectOutsideIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Links, ConfinementTest,
    ::testing::Values(
        LinkCase{"LinkedFile", "WINDOWS/SYSTEM.INI", false, "C:\\WINDOWS\\SYSTEM.INI"},
        LinkCase{"LinkedFileFolded", "WINDOWS/SYSTEM.INI", false, "C:\\WINDOWS\\system.ini"},
        LinkCase{"LinkedFolder", "WINDOWS/SYSTEM/LINK", true, "C:\\WINDOWS\\SYSTEM\\LINK\\secret.txt"},
        LinkCase{"LinkedFolderFolded", "WINDOWS/Link", true, "C:\\WINDOWS\\LINK\\SECRET.TXT"},
        LinkCase{"LinkedWindows", "WINDOWS", true, "C:\\WINDOWS\\secret.txt"},
        LinkCase{"LinkedRegistry", "registry.reg", false, "C:\\registry.reg"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostFilesTest, DeletingALinkRemovesTheLinkOnly) {
  fs::create_symlink(outside_ / "secret.txt", machine_.HostPath("WINDOWS/SYSTEM/TQC.CPL"));
  EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM\\tqc.cpl"));
  EXPECT_FALSE(machine_.Exists("WINDOWS/SYSTEM/TQC.CPL"));
  ExpectOutsideIntact();
}

TEST_F(HostFilesTest, RewritingAHardLinkedFileNeverWritesTheSharedBytes) {
  fs::create_hard_link(outside_ / "secret.txt", machine_.HostPath("WINDOWS/SYSTEM.NEW"));
  EXPECT_EQ(files_.Create("C:\\WINDOWS\\SYSTEM.NEW", GENERIC_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteAll("C:\\WINDOWS\\SYSTEM.NEW", "rewritten"));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.NEW"), "rewritten");
  ExpectOutsideIntact();
}

TEST_F(HostFilesTest, CopyOverALinkReplacesTheLinkNotItsTarget) {
  machine_.WriteFile("WINDOWS/SYSTEM.NEW", "rewritten");
  fs::create_symlink(outside_ / "secret.txt", machine_.HostPath("WINDOWS/SYSTEM.INI"));
  EXPECT_TRUE(files_.Copy("C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\SYSTEM.INI", FALSE));
  EXPECT_FALSE(fs::is_symlink(machine_.HostPath("WINDOWS/SYSTEM.INI")));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), "rewritten");
  ExpectOutsideIntact();
}

// ------------------------------------------------------------------- in use

TEST_F(HostFilesTest, ALockedFileIsInUseUntilReleased) {
  for (int lock : {LOCK_EX, LOCK_SH}) {
    machine_.WriteFile("WINDOWS/SYSTEM/TQC.CPL", "applet");
    // Another open file description, as a Control Panel process would hold.
    int holder = ::open(machine_.HostPath("WINDOWS/SYSTEM/TQC.CPL").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, lock), 0);
    EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
    EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM/TQC.CPL"), "applet");
    ::close(holder);
    EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
    EXPECT_FALSE(machine_.Exists("WINDOWS/SYSTEM/TQC.CPL"));
  }
}

TEST_F(HostFilesTest, AFileOpenThroughOurOwnHandleIsInUse) {
  machine_.WriteFile("WINDOWS/SYSTEM.NEW", "new");
  HANDLE file = files_.Create("C:\\WINDOWS\\system.new", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM.NEW"));
  EXPECT_TRUE(machine_.Exists("WINDOWS/SYSTEM.NEW"));
  EXPECT_TRUE(files_.CloseHandle(file));
  EXPECT_TRUE(files_.Delete("C:\\WINDOWS\\SYSTEM.NEW"));
}

TEST_F(HostFilesTest, DeleteFailsOnMissingFilesAndFolders) {
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM"));
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\Help"));
  EXPECT_TRUE(fs::is_directory(machine_.HostPath("WINDOWS/Help")));
}

// --------------------------------------------------------------------- copy

TEST_F(HostFilesTest, CopyReplacesTheTargetByRenameUnderItsOwnName) {
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "old");
  machine_.WriteFile("WINDOWS/system.new", "new");
  // A second name of the old file keeps the old bytes: the target was
  // replaced as a whole, never rewritten in place.
  fs::create_hard_link(machine_.HostPath("WINDOWS/SYSTEM.INI"), machine_.HostPath("old.ini"));
  ASSERT_TRUE(files_.Copy("C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\system.ini", FALSE));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), "new");
  EXPECT_FALSE(machine_.Exists("WINDOWS/system.ini"));
  EXPECT_EQ(machine_.ReadFile("old.ini"), "old");
  std::size_t entries = 0;
  for ([[maybe_unused]] auto &entry : fs::directory_iterator(machine_.HostPath("WINDOWS")))
    ++entries;
  EXPECT_EQ(entries, 4u) << "SYSTEM, Help, SYSTEM.INI, system.new: no temporary left";
}

struct CopyFailure {
  const char *name;
  const char *from;
  const char *to;
  bool failIfExists;
};

class CopyFailureTest : public HostFilesTest, public ::testing::WithParamInterface<CopyFailure> {};

TEST_P(CopyFailureTest, LeavesTheTargetAsItWas) {
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "old");
  machine_.WriteFile("WINDOWS/SYSTEM.NEW", "new");
  EXPECT_FALSE(files_.Copy(GetParam().from, GetParam().to, GetParam().failIfExists));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), "old");
  EXPECT_TRUE(fs::is_directory(machine_.HostPath("WINDOWS/SYSTEM")));
  for (auto &entry : fs::directory_iterator(machine_.HostPath("WINDOWS")))
    EXPECT_EQ(entry.path().filename().string().find(".tq72"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CopyFailureTest,
    ::testing::Values(
        CopyFailure{"FailIfExists", "C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\system.ini", true},
        CopyFailure{"MissingSource", "C:\\WINDOWS\\WIN.INI", "C:\\WINDOWS\\SYSTEM.INI", false},
        CopyFailure{"SourceIsFolder", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM.INI", false},
        CopyFailure{"TargetIsFolder", "C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\SYSTEM", false},
        CopyFailure{"TargetFolderMissing", "C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINNT\\SYSTEM.INI",
                    false},
        CopyFailure{"BadTargetPath", "C:\\WINDOWS\\SYSTEM.NEW", "C:\\WINDOWS\\..\\SYSTEM.INI",
                    false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostFilesTest, CallsFailOnAClosedMachine) {
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "abc");
  HANDLE open = files_.Create("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  files_.Close();
  EXPECT_EQ(files_.OpenHandleCount(), 0u) << "Close releases what was left open";
  EXPECT_EQ(ReadAll("C:\\WINDOWS\\SYSTEM.INI"), "<fail>");
  EXPECT_FALSE(files_.Delete("C:\\WINDOWS\\SYSTEM.INI"));
  EXPECT_TRUE(machine_.Exists("WINDOWS/SYSTEM.INI"));
}

}  // namespace
