// The hosted platform around the files: message boxes on the terminal, the
// log's place and starting. The command line and whole runs are the e2e
// scripts' part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "hosted/hosted.h"
#include "hosted/windows_files.h"
#include "hosted/registry.h"
#include "hosted_program/command_line.h"
#include "platform/platform.h"
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"
#include "texts/texts.h"

using namespace platform;

namespace {

constexpr UINT Confirm = MB_YESNO | MB_DEFBUTTON2;

// ------------------------------------------------------------------ boxes

// Text that reaches the terminal must not drive it; typed lines that are no
// choice are asked again, and input that ends answers 0.
TEST(TerminalBoxTest, ShowsEscapesAsTextAndReadsUntilAChoice) {
  std::string box = hosted::DrawBox("Caption", "First\r\nSecond\x1b[2J", Confirm, 80);
  EXPECT_NE(box.find("|  Second?[2J "), std::string::npos) << box;
  EXPECT_EQ(box.find('\x1b'), std::string::npos);
  std::tuple<std::string, UINT, int> cases[] = {
      {"\n", MB_YESNO, IDYES}, {"what\no\nn\n", Confirm, IDNO}, {"maybe", Confirm, 0}};
  for (auto &[typed, style, expected] : cases) {
    std::FILE *in = fmemopen(typed.data(), typed.size(), "r");
    std::FILE *out = std::tmpfile();
    ASSERT_TRUE(in && out);
    EXPECT_EQ(hosted::AskOnTerminal("Caption", "Text", style, in, out), expected) << typed;
    std::fclose(in);
    std::fclose(out);
  }
}

std::vector<std::string> Split(const std::string &text, const std::string &separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (separators.find(c) == std::string::npos) {
      parts.back() += c;
    } else {
      parts.emplace_back();
    }
  }
  return parts;
}

std::vector<std::string> Words(const std::string &text) {
  std::vector<std::string> words = Split(text, " \r\n");
  std::erase(words, "");
  return words;
}

// The text's rows of a drawn box, without the frame, the indent and the
// padding: the rows between the caption's blank row and the buttons' one.
std::vector<std::string> TextRows(const std::string &box) {
  std::vector<std::string> rows = Split(box, "\n");
  rows.pop_back();  // after the last line end
  std::vector<std::string> text(rows.begin() + 2, rows.end() - 3);
  for (std::string &row : text) {
    row = row.substr(3, row.size() - 4);
    row.erase(row.find_last_not_of(' ') + 1);
  }
  return text;
}

// The words wrap at the terminal's width, at most 70 columns of text: no row
// is wider, no word is broken, each row is as full as its next word lets it
// be, and the text's own line breaks (an empty line too) still make rows. A
// word longer than a whole line is the one thing broken.
TEST(TerminalBoxTest, WrapsWordsToTheTerminalAndKeepsTheTextsLines) {
  for (unsigned columns : {80u, 40u}) {
    const std::size_t textWidth = std::min<std::size_t>(70, columns - 6);
    for (const std::string text : {ConfirmationText, AppletPrompt, CompletionText}) {
      SCOPED_TRACE(testing::Message() << columns << " columns: " << text);
      const std::string box = hosted::DrawBox(ProductCaption, text, Confirm, columns);
      for (const std::string &row : Split(box, "\n")) EXPECT_LE(row.size(), columns) << box;
      const std::vector<std::string> rows = TextRows(box);
      std::string joined;
      for (const std::string &row : rows) joined += row + "\n";
      EXPECT_EQ(Words(joined), Words(text)) << box;
      // Each row is a piece of the text; with the blanks after it there and
      // the next row's first word, when that row goes on the same line of
      // the text, it would not have fitted.
      std::size_t at = 0;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_LE(rows[i].size(), textWidth) << box;
        at = text.find(rows[i], at) + rows[i].size();
        const std::size_t next = std::min(text.find_first_not_of(' ', at), text.size());
        const bool sameLine = next < text.size() && text[next] != '\r' && text[next] != '\n';
        if (i + 1 < rows.size() && sameLine) {
          EXPECT_GT(rows[i].size() + (next - at) + Words(rows[i + 1]).front().size(), textWidth)
              << box;
        }
      }
      const std::vector<std::string> lines = Split(text, "\n");  // each but the last ends in CR
      EXPECT_EQ(std::count(rows.begin(), rows.end(), ""),
                std::count(lines.begin(), lines.end(), "\r"))
          << "an empty line of the text is an empty row: " << box;
    }
  }
  const std::string word(100, 'W');
  const std::vector<std::string> rows = TextRows(hosted::DrawBox("C", "a " + word, MB_OK, 40));
  EXPECT_EQ(rows, (std::vector<std::string>{"a", word.substr(0, 34), word.substr(34, 34),
                                            word.substr(68)}));
}

// The width of the terminal the box is drawn on: its window, else $COLUMNS
// (as a shell sets it), else 80.
TEST(TerminalBoxTest, TakesTheColumnsOfTheTerminalOrColumnsOr80) {
  std::FILE *notATerminal = std::tmpfile();
  ASSERT_NE(notATerminal, nullptr);
  const char *saved = std::getenv("COLUMNS");
  const std::string kept = saved != nullptr ? saved : "";
  std::tuple<const char *, unsigned> cases[] = {{"40", 40},   {nullptr, 80}, {"", 80},
                                                {"wide", 80}, {"0", 80},     {"132x", 80}};
  for (auto [columns, expected] : cases) {
    if (columns != nullptr) {
      setenv("COLUMNS", columns, 1);
    } else {
      unsetenv("COLUMNS");
    }
    EXPECT_EQ(hosted::TerminalColumns(notATerminal), expected) << (columns ? columns : "unset");
  }
  if (saved != nullptr) {
    setenv("COLUMNS", kept.c_str(), 1);
  } else {
    unsetenv("COLUMNS");
  }
  std::fclose(notATerminal);
}

// ------------------------------------------------------------------ start

namespace fs = std::filesystem;

void InstallModemFiles(const scratch::Machine &machine) {
  for (const scratch::File &file : scratch::ModemFiles())
    ASSERT_TRUE(machine.WriteFile(file.path, file.bytes)) << file.path;
}

TEST(StartTest, RefusesAMissingFolderOrAMalformedRegistryNamingFileAndLine) {
  const char bad[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n";
  scratch::Machine machine(bad);
  const std::string root = machine.Folder().string();
  std::string error;
  EXPECT_FALSE(hosted::Start(root + "/absent", &error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
  EXPECT_FALSE(hosted::Start(root, &error));
  EXPECT_NE(error.find("registry.reg:4:"), std::string::npos) << error;
  EXPECT_NE(error.find(root), std::string::npos) << "names the folder: " << error;
  EXPECT_EQ(scratch::ReadHostFile(root + "/registry.reg"), bad);
  EXPECT_EQ(CopyFileA("C:\\registry.reg", "C:\\copy.reg", FALSE), FALSE) << "not started";
  EXPECT_FALSE(fs::exists(root + "/copy.reg"));
}

// A log that is or would be a file of the machine folder, however it is
// named, is refused before anything is written; one beside it is fine, and
// is appended to.
TEST(StartTest, RefusesALogInsideTheMachine) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const std::string root = machine.Folder().string();
  const std::string outer = machine.Folder().parent_path().string();
  const std::string outside = outer + "/outside.log";
  ASSERT_EQ(::symlink((root + "/WINDOWS").c_str(), (outer + "/win").c_str()), 0);
  ASSERT_EQ(::symlink((root + "/registry.reg").c_str(), (outer + "/reg-link").c_str()), 0);
  ASSERT_EQ(::link((root + "/registry.reg").c_str(), (outer + "/reg-hard").c_str()), 0);
  // A link to a file the log would create in the machine.
  ASSERT_EQ(::symlink((root + "/new.log").c_str(), (outer + "/dangling").c_str()), 0);
  const auto before = scratch::SnapshotFolder(root);
  const std::string cases[] = {
      root + "/registry.reg",
      root + "/WINDOWS/SYSTEM.INI",
      root + "/WINDOWS/SYSTEM/new.log",
      root + "/WINDOWS/../x.log",
      outer + "/win/SYSTEM.INI",
      outer + "/win/new.log",
      outer + "/reg-link",
      outer + "/reg-hard",
      outer + "/dangling",
      root + "/",
  };
  for (const std::string &log : cases) {
    SCOPED_TRACE(log);
    std::string error;
    EXPECT_EQ(hosted::OpenLog(log, root, &error), nullptr);
    EXPECT_EQ(error.rfind("log \"", 0), 0u) << error;
    EXPECT_EQ(scratch::SnapshotFolder(root), before);
  }
  { std::ofstream(outside) << "earlier\n"; }
  for (const std::string &log : {outside, std::string("/dev/null")}) {
    std::string error;
    std::FILE *file = hosted::OpenLog(log, root, &error);
    ASSERT_NE(file, nullptr) << error;
    std::fputs("later\n", file);
    std::fclose(file);
  }
  EXPECT_EQ(scratch::ReadHostFile(outside), "earlier\nlater\n");
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
}

// Under the machine lock, what a killed run left is known to be abandoned:
// its temporary files go, and nothing else.
TEST(StartTest, RemovesTheTemporaryFilesOfAKilledRun) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const fs::path root = machine.Folder();
  const auto before = scratch::SnapshotFolder(root);
  for (const char *left :
       {".tq72tmp-4242-1", "WINDOWS/.tq72tmp-4242-2", "WINDOWS/SYSTEM/.tq72tmp-4242-7"})
    scratch::WriteHostFile(root / left, "half written");
  fs::create_directory(root / "WINDOWS/.tq72tmp-4242-3");
  machine.Start();
  machine.Stop();
  auto expected = before;
  expected["WINDOWS/.tq72tmp-4242-3/"] = "";  // not a file of ours
  EXPECT_EQ(scratch::SnapshotFolder(root), expected);
}

// A start creates nothing in the folder (so a signal at the confirmation
// leaves it as it was), and it is refused while anyone holds the folder's
// lock, as another run does.
TEST(StartTest, CreatesNothingAndIsRefusedWhileTheFolderIsLocked) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const std::string root = machine.Folder().string();
  const auto before = scratch::SnapshotFolder(root);
  machine.Start();
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
  machine.Stop();
  const int holder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  std::string error;
  EXPECT_FALSE(hosted::Start(root, &error));
  EXPECT_EQ(error, hosted::kMachineInUse);
  ::close(holder);
  EXPECT_TRUE(hosted::Start(root, &error)) << error;
  EXPECT_TRUE(hosted::Stop(&error)) << error;
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
}

}  // namespace
