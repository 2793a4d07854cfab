// The hosted registry beyond the platform contract (which the portable
// contract suite states for every platform), on a registry opened on a
// machine folder as a start opens it: handle values, paths, name order, and
// that what the next start loads (registry.reg with its journal) shows every
// change, and that Fold leaves a file that loads and holds exactly the
// content in memory. Then the machine folder's crash recovery: journals left
// behind or torn, failed writes, untouched files, changes by others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hosted/posix_files.h"
#include "hosted/registry.h"
#include "support/key_walk.h"
#include "support/registry_content.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using Names = std::vector<std::string>;
using scratch::KeyTree;

// The key opens through the registry's own calls.
bool Opens(hosted::Registry &registry, HKEY root, const std::string &path) {
  return scratch::KeyOpens(scratch::Reader(registry), root, path);
}

const std::string kFixture =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\Class\\Modem\\0000]\r\n"
    "\"DriverDesc\"=\"TQ72 PCI Modem\"\r\n@=\"default text\"\r\n\"Num\"=dword:12345678\r\n"
    "\"Expand\"=hex(2):41,42\r\n\"EmptyBin\"=hex:\r\n\"Multi\"=hex(7):61,00,62,00,00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\Class\\Modem\\0000\\Init]\r\n\"1\"=\"AT\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\Class\\Modem\\0001]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]\r\n\"Version\"=\"1.0\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Beta]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\alpha]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zulu]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\_Under]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\charlie]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quorvane]\r\n\r\n"
    "[HKEY_USERS\\.Default]\r\n\r\n[HKEY_CLASSES_ROOT\\.tq7]\r\n\r\n"
    "[HKEY_CURRENT_CONFIG\\Display]\r\n\r\n[HKEY_DYN_DATA\\Config Manager\\Enum]\r\n\r\n";

constexpr const char *kModem0000 = "System\\Class\\Modem\\0000";
const HKEY kRoots[] = {HKEY_CLASSES_ROOT,   HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                       HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,     HKEY_USERS};

// A scratch machine folder whose registry.reg holds kFixture.
class MachineFolder : public ::testing::Test {
 protected:
  ~MachineFolder() override { ::close(dirFd_); }
  // Opened as a start opens it.
  void Open(hosted::Registry &reg) {
    std::string error;
    ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  }
  // What the next start would load from the folder is what `reg` holds.
  void ExpectDurable(hosted::Registry &reg) {
    hosted::Registry fresh;
    std::string error;
    ASSERT_TRUE(fresh.Open(dirFd_, &error)) << error;
    EXPECT_EQ(KeyTree(fresh), KeyTree(reg));
  }
  // Names in the folder that start with prefix.
  std::vector<std::string> Entries(std::string_view prefix) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(machine_.Folder())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
  }
  // Fold folds everything into a registry.reg that loads and holds what
  // `reg` held, and removes the journal.
  void FoldAndExpectFolded(hosted::Registry &reg) {
    std::string error;
    ASSERT_TRUE(reg.Fold(&error)) << error;
    EXPECT_EQ(Entries(hosted::journal::kJournalName), std::vector<std::string>{});
    EXPECT_EQ(Entries(hosted::kTemporaryPrefix), std::vector<std::string>{});
    ExpectDurable(reg);
  }
  scratch::Machine machine_{kFixture};
  int dirFd_ = ::open(machine_.Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
};

// The contract, on a registry opened as a start opens it: each change is
// durable, and Fold folds them all.
class RegistryContract : public MachineFolder {
 protected:
  void SetUp() override { Open(reg_); }
  void TearDown() override { FoldAndExpectFolded(reg_); }
  void CheckDurable() { ExpectDurable(reg_); }
  HKEY OpenKey(HKEY from, const char *subKey) {
    HKEY key = nullptr;
    EXPECT_EQ(reg_.OpenKey(from, subKey, &key), ERROR_SUCCESS) << subKey;
    return key;
  }
  // The names EnumKey gives for index 0, 1, ... until it stops.
  Names Children(HKEY key) {
    Names names;
    char name[256];
    for (DWORD n = sizeof name; reg_.EnumKey(key, names.size(), name, &n) == ERROR_SUCCESS;
         n = sizeof name) {
      EXPECT_EQ(n, std::strlen(name));
      names.emplace_back(name);
    }
    return names;
  }
  // Every call but CloseKey fails with `status` on a handle that names no live key.
  void ExpectCallsFail(HKEY key, LONG status) {
    HKEY result = nullptr;
    char name[64];
    DWORD chars = sizeof name, bytes = 0;
    EXPECT_EQ(reg_.OpenKey(key, "Init", &result), status);
    EXPECT_EQ(reg_.EnumKey(key, 0, name, &chars), status);
    EXPECT_EQ(reg_.QueryValue(key, "DriverDesc", nullptr, nullptr, &bytes), status);
    EXPECT_EQ(reg_.DeleteKey(key, "Init"), status);
    EXPECT_EQ(result, nullptr);
  }
  void ExpectDeleted(HKEY key) { ExpectCallsFail(key, ERROR_KEY_DELETED); }
  hosted::Registry reg_;
};

TEST_F(RegistryContract, Handles) {
  for (HKEY root : kRoots) EXPECT_EQ(reg_.CloseKey(root), ERROR_SUCCESS);  // roots stay valid
  HKEY self = OpenKey(HKEY_DYN_DATA, "");  // a new handle on the root itself
  EXPECT_NE(self, HKEY_DYN_DATA);
  EXPECT_EQ(Children(self), Names{"Config Manager"});
  EXPECT_EQ(reg_.CloseKey(self), ERROR_SUCCESS);
  HKEY a = OpenKey(HKEY_LOCAL_MACHINE, "Software");
  HKEY b = OpenKey(a, nullptr);
  EXPECT_NE(b, a);  // a handle of its own, as Windows gives
  EXPECT_EQ(reg_.CloseKey(a), ERROR_SUCCESS);
  EXPECT_EQ(reg_.CloseKey(a), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Children(b).size(), 6u);                      // the other handle still works
  EXPECT_NE(OpenKey(HKEY_LOCAL_MACHINE, "Software"), a);  // values are never reused
  // Unknown handles, a closed one and HKEY_PERFORMANCE_DATA (not on 95/98).
  for (HKEY key : {HKEY(nullptr), a, PredefinedKey(0x80000004u)}) {
    ExpectCallsFail(key, ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg_.CloseKey(key), ERROR_INVALID_HANDLE);
  }
}

TEST_F(RegistryContract, NamesAreCaseInsensitiveAndEnumerateInFoldedOrder) {
  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, "sOFTWARE\\QUORVANE\\tq19kvn");
  char data[8];
  DWORD bytes = sizeof data;
  ASSERT_EQ(reg_.QueryValue(key, "VERSION", nullptr, reinterpret_cast<BYTE *>(data), &bytes),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "1.0");
  EXPECT_TRUE(Opens(reg_, HKEY_LOCAL_MACHINE, "SOFTWARE\\quorvane"));
  // Folded to upper case: '_' (0x5F) sorts after 'Z' (0x5A), 'a' before 'B'.
  EXPECT_EQ(Children(OpenKey(HKEY_LOCAL_MACHINE, "software")),
            (Names{"alpha", "Beta", "charlie", "Quorvane", "Zulu", "_Under"}));
  EXPECT_EQ(Children(HKEY_LOCAL_MACHINE), (Names{"Software", "System"}));
}

TEST_F(RegistryContract, DeleteKeyRemovesTheWholeSubtree) {
  HKEY modem = OpenKey(HKEY_LOCAL_MACHINE, "System\\Class\\Modem");
  HKEY instance = OpenKey(modem, "0000");
  HKEY init = OpenKey(instance, "Init");
  HKEY again = OpenKey(HKEY_LOCAL_MACHINE, kModem0000);
  ASSERT_EQ(reg_.DeleteKey(modem, "0000"), ERROR_SUCCESS);
  CheckDurable();
  EXPECT_FALSE(Opens(reg_, HKEY_LOCAL_MACHINE, kModem0000));
  EXPECT_FALSE(Opens(reg_, HKEY_LOCAL_MACHINE, kModem0000 + "\\Init"s));
  EXPECT_EQ(Children(modem), Names{"0001"});
  HKEY result = nullptr;
  EXPECT_EQ(reg_.OpenKey(modem, "0000", &result), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.DeleteKey(modem, "0000"), ERROR_FILE_NOT_FOUND);
  // The key, a descendant and a second handle are deleted; they can still
  // be closed.
  for (HKEY key : {instance, init, again}) ExpectDeleted(key);
  EXPECT_EQ(reg_.CloseKey(init), ERROR_SUCCESS);

  // Through a case-folded path, and under every root; the same name under
  // another root is another key.
  ASSERT_EQ(reg_.DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\quorvane"), ERROR_SUCCESS);
  EXPECT_TRUE(Opens(reg_, HKEY_CURRENT_USER, "Software\\Quorvane"));
  EXPECT_EQ(Children(OpenKey(HKEY_LOCAL_MACHINE, "Software")),
            (Names{"alpha", "Beta", "charlie", "Zulu", "_Under"}));
  for (std::size_t i = 0; i < hosted::kRootCount; ++i) {
    const HKEY root = hosted::RootKey(static_cast<hosted::RootId>(i));
    const Names children = Children(root);
    ASSERT_FALSE(children.empty());
    ASSERT_EQ(reg_.DeleteKey(root, children[0].c_str()), ERROR_SUCCESS) << children[0];
    EXPECT_FALSE(Opens(reg_, root, children[0]));
    CheckDurable();
  }
  EXPECT_EQ(Children(HKEY_LOCAL_MACHINE), Names{"System"});
}

// ------------------------------------------------- crash recovery on disk

namespace journal = hosted::journal;

TEST_F(MachineFolder, AJournalLeftBehindIsFoldedByTheNextOpen) {
  ASSERT_EQ(::fchmodat(dirFd_, "registry.reg", 0640, 0), 0);
  {
    hosted::Registry crashed;
    Open(crashed);
    ASSERT_EQ(crashed.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\TQ19KVN"), ERROR_SUCCESS);
    ASSERT_EQ(crashed.DeleteKey(HKEY_CLASSES_ROOT, ".tq7"), ERROR_SUCCESS);
  }  // the process dies here: no Fold
  EXPECT_EQ(machine_.ReadInFolder("registry.reg"), kFixture);
  hosted::Registry reg;
  Open(reg);
  EXPECT_FALSE(Opens(reg, HKEY_LOCAL_MACHINE, "Software\\Quorvane\\TQ19KVN"));
  EXPECT_TRUE(Opens(reg, HKEY_LOCAL_MACHINE, "Software\\Quorvane"));
  EXPECT_FALSE(Opens(reg, HKEY_CLASSES_ROOT, ".tq7"));
  const std::string content = KeyTree(reg);
  FoldAndExpectFolded(reg);  // a run that changed nothing itself still folds
  struct stat st {};
  ASSERT_EQ(::fstatat(dirFd_, "registry.reg", &st, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A crash after the rename left a journal of records already folded.
  const std::string folded = machine_.ReadInFolder("registry.reg").value();
  machine_.WriteInFolder(journal::kJournalName, std::string(journal::kHeader) +
                                                    journal::Record("HKEY_CLASSES_ROOT\\.tq7"));
  Open(reg);
  EXPECT_EQ(KeyTree(reg), content);
  FoldAndExpectFolded(reg);
  EXPECT_EQ(machine_.ReadInFolder("registry.reg"), folded);
}

TEST_F(MachineFolder, ATornLastRecordIsIgnoredWhereverItIsCut) {
  const std::string first =
      std::string(journal::kHeader) + journal::Record("HKEY_LOCAL_MACHINE\\Software\\Quorvane");
  const std::string last = journal::Record("HKEY_CLASSES_ROOT\\.tq7");
  // Even the header torn; every cut of the last record.
  std::vector<std::string> journals{"REGED"};
  for (std::size_t cut = 0; cut < last.size(); ++cut)
    journals.push_back(first + last.substr(0, cut));
  for (const std::string &bytes : journals) {
    SCOPED_TRACE(bytes);
    machine_.WriteInFolder(journal::kJournalName, bytes);
    hosted::Registry reg;
    Open(reg);
    EXPECT_EQ(Opens(reg, HKEY_LOCAL_MACHINE, "Software\\Quorvane"), bytes == "REGED");
    EXPECT_TRUE(Opens(reg, HKEY_CLASSES_ROOT, ".tq7"));
    // A new change goes after the complete records, over the torn one.
    ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Beta"), ERROR_SUCCESS);
    ExpectDurable(reg);
  }
}

// A real full disk, as far as this process goes: files may not grow past a
// few bytes more than the journal holds, so the next record is written in
// part and the fold of registry.reg cannot be written at all. (Root ignores
// read-only files, not this limit.)
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of a kill
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousSignal_);
  }

 private:
  rlimit previous_{};
  void (*previousSignal_)(int);
};

TEST_F(MachineFolder, AFailedWriteLeavesTheRegistryAsItWas) {
  hosted::Registry reg;
  std::string error;
  Open(reg);
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\alpha"), ERROR_SUCCESS);
  auto full = std::make_unique<FileSizeLimit>(
      machine_.ReadInFolder(journal::kJournalName).value().size() + 8);
  EXPECT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, ".tq7"), ERROR_WRITE_FAULT);
  EXPECT_TRUE(Opens(reg, HKEY_CLASSES_ROOT, ".tq7"));
  // A failed save keeps the old file and the journal, and stays open.
  EXPECT_FALSE(reg.Fold(&error));
  EXPECT_EQ(machine_.ReadInFolder("registry.reg"), kFixture);
  full.reset();
  ExpectDurable(reg);
  FoldAndExpectFolded(reg);
}

TEST_F(MachineFolder, ARunThatChangesNothingLeavesTheFileAlone) {
  struct stat before {
  }, after{};
  ASSERT_EQ(::fstatat(dirFd_, "registry.reg", &before, 0), 0);
  hosted::Registry reg;
  Open(reg);
  EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Missing"), ERROR_FILE_NOT_FOUND);
  FoldAndExpectFolded(reg);
  ASSERT_EQ(::fstatat(dirFd_, "registry.reg", &after, 0), 0);
  EXPECT_EQ(machine_.ReadInFolder("registry.reg"), kFixture);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// Another program changes registry.reg during the run: the fold applies the
// journal to the file as it is then. If it no longer loads (or is gone), the
// changes stay in the journal for the next run, and the run says so.
TEST_F(MachineFolder, TheFoldAppliesTheJournalToTheFileAsItIsThen) {
  const std::string added = "[HKEY_LOCAL_MACHINE\\Software\\AddedMeanwhile]\r\n\r\n";
  const std::string users = "[HKEY_USERS\\.Default]\r\n\r\n";
  const struct {
    const char *meanwhile;
    std::string text;    // registry.reg at the fold; "" removed
    const char *reason;  // of the failed fold; null when it succeeds
  } cases[] = {
      {"a key added", kFixture + added, nullptr},
      {"a key removed", std::string(kFixture).erase(kFixture.find(users), users.size()), nullptr},
      {"damaged", kFixture + "[HKEY_LOCAL_MACHINE\\Cut", "registry.reg:39: unterminated"},
      {"removed", "", "no registry.reg"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.meanwhile);
    machine_.WriteInFolder("registry.reg", kFixture);
    auto reg = std::make_unique<hosted::Registry>();
    Open(*reg);
    ASSERT_EQ(reg->DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Quorvane"), ERROR_SUCCESS);
    ASSERT_EQ(reg->DeleteKey(HKEY_CLASSES_ROOT, ".tq7"), ERROR_SUCCESS);
    if (c.text.empty()) {
      ASSERT_EQ(::unlinkat(dirFd_, "registry.reg", 0), 0);
    } else {
      machine_.WriteInFolder("registry.reg", c.text);
    }
    std::string error;
    if (c.reason != nullptr) {
      EXPECT_FALSE(reg->Fold(&error));
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
      EXPECT_NE(error.find("the 2 registry changes are kept in registry.reg.journal, and the next "
                           "run applies them"),
                std::string::npos)
          << error;
      EXPECT_EQ(machine_.ReadInFolder("registry.reg"),
                c.text.empty() ? std::nullopt : std::optional<std::string>(c.text));
      machine_.WriteInFolder("registry.reg", kFixture + added);  // mended: the next run folds
      reg = std::make_unique<hosted::Registry>();
      Open(*reg);
    }
    FoldAndExpectFolded(*reg);
    const std::string folded = machine_.ReadInFolder("registry.reg").value();
    EXPECT_EQ(folded.find("HKEY_LOCAL_MACHINE\\Software\\Quorvane"), std::string::npos);
    EXPECT_EQ(folded.find(".tq7"), std::string::npos);
    EXPECT_NE(folded.find("Software\\Zulu"), std::string::npos);
    const bool addedThen =
        c.reason != nullptr || c.text.find("AddedMeanwhile") != std::string::npos;
    EXPECT_EQ(folded.find("AddedMeanwhile") != std::string::npos, addedThen);
    const bool usersThen = c.reason != nullptr || c.text.find("[HKEY_USERS") != std::string::npos;
    EXPECT_EQ(folded.find("[HKEY_USERS") != std::string::npos, usersThen);
  }
}

// A link is never followed out of the machine folder, and a refused Open
// leaves the content as it was.
TEST_F(MachineFolder, SymlinkedFilesAreRefused) {
  scratch::Machine outside(kFixture);
  const std::string target = (outside.Folder() / "registry.reg").string();
  hosted::Registry reg;
  std::string error;
  const std::string before = KeyTree(reg);
  ASSERT_EQ(::symlinkat(target.c_str(), dirFd_, journal::kJournalName), 0);
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  // A journal with another name, maybe outside, is never written in place.
  ASSERT_EQ(::unlinkat(dirFd_, journal::kJournalName, 0), 0);
  ASSERT_EQ(::linkat(AT_FDCWD, target.c_str(), dirFd_, journal::kJournalName, 0), 0);
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("registry.reg.journal has other names"), std::string::npos) << error;
  ASSERT_EQ(::unlinkat(dirFd_, journal::kJournalName, 0), 0);
  ASSERT_EQ(::unlinkat(dirFd_, "registry.reg", 0), 0);
  ASSERT_EQ(::symlinkat(target.c_str(), dirFd_, "registry.reg"), 0);
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("registry.reg is a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(KeyTree(reg), before);
  // Opened through a descriptor its opener closes at once: it keeps its own.
  EXPECT_TRUE(outside.OpenRegistry(reg, &error)) << error;
  EXPECT_EQ(scratch::ReadHostFile(target), kFixture);
  EXPECT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, ".tq7"), ERROR_SUCCESS);
  EXPECT_TRUE(reg.Fold(&error)) << error;
  EXPECT_EQ(scratch::ReadHostFile(target)->find(".tq7"), std::string::npos);
}

}  // namespace
