// The session above the calls: the answers it gives to boxes, and its log
// of a whole run, which an administrator reads to know what was removed and
// which the Windows program's log is compared with, call by call.
#include "session/session.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/uninstall.h"
#include "platform/call_table.h"
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;
using session::Answer;

constexpr UINT Confirm = MB_YESNO | MB_DEFBUTTON2;

std::string Written;
void Collect(const char *bytes, unsigned length) { Written.append(bytes, length); }

std::vector<std::string> Lines(const std::string &log, const std::string &end) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, next; (next = log.find(end, at)) != std::string::npos;
       at = next + end.size())
    lines.push_back(log.substr(at, next - at));
  return lines;
}

// The text of field name in a log line ("" when absent).
std::string Field(const std::string &line, const std::string &name) {
  const std::string start = "\"" + name + "\":\"";
  const std::size_t at = line.find(start);
  if (at == std::string::npos) return "";
  std::string value;
  for (std::size_t i = at + start.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\') ++i;
    value += line[i];
  }
  return value;
}

TEST(SessionAnswerTest, PressesTheButtonItNamesOrTheDefaultAndNeverConfirmsByAccident) {
  std::tuple<Answer, UINT, int> cases[] = {
      {Answer::Yes, Confirm, IDYES},  {Answer::No, Confirm, IDNO},
      {Answer::Enter, Confirm, IDNO}, {Answer::Enter, MB_YESNO, IDYES},
      {Answer::Ok, Confirm, IDNO},    {Answer::None, Confirm, 0},
      {Answer::Ok, MB_OK, IDOK},      {Answer::Yes, MB_OK, IDOK},
      {Answer::None, MB_OK, 0},       {Answer::Ok, 0x0001 /* MB_OKCANCEL */, 0}};
  for (auto [answer, style, expected] : cases)
    EXPECT_EQ(session::ResultOf(answer, style), expected)
        << static_cast<int>(answer) << " on style " << style;
  EXPECT_EQ(session::GoOnResult(Confirm), IDYES);
  EXPECT_EQ(session::GoOnResult(MB_OK), IDOK);
  EXPECT_EQ(session::GoOnResult(0x0001), 0) << "a box that cannot be shown";
}

// The answers go first, in order, and no box shows for them; then either
// every box is answered as a user who goes on would (/S), or it is shown.
TEST(SessionAnswerTest, AnswersInOrderThenGoesOnOrShowsTheBox) {
  for (bool goOn : {false, true}) {
    SCOPED_TRACE(goOn ? "going on" : "showing");
    interposer::Interposer layer;
    layer.AnswerBoxes({IDNO, IDOK});  // as the person at the screen answers
    const Answer answers[] = {Answer::Enter, Answer::Yes, Answer::None};
    std::vector<int> results;
    {
      interposer::SessionScope session({.answers = answers, .answerCount = 3, .goOn = goOn});
      for (UINT style : {Confirm, Confirm, UINT(MB_OK), Confirm, UINT(MB_OK)})
        results.push_back(MessageBoxA(nullptr, "Text", "Caption", style));
    }
    EXPECT_EQ(results, (std::vector<int>{IDNO, IDYES, 0, goOn ? IDYES : IDNO, IDOK}));
    EXPECT_EQ(layer.Boxes().size(), goOn ? 0u : 2u);
  }
}

// The log of a whole run: a line for each call the logic made, in order,
// each naming what its handle was opened on.
TEST(SessionLogTest, NamesEveryCallOfARunAndWhatItsHandleWasOpenedOn) {
  for (bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CR LF" : "LF");
    scratch::Rig run(scratch::ModemKeys(), scratch::ModemFiles());
    Written.clear();
    {
      interposer::SessionScope session({.log = &Collect, .crlf = crlf});
      ASSERT_EQ(RunUninstall(), IDOK);
    }
    const std::vector<std::string> lines = Lines(Written, crlf ? "\r\n" : "\n");
    const std::vector<std::string> &calls = run.layer.CallNames();
    ASSERT_EQ(lines.size(), calls.size()) << Written;
    EXPECT_EQ(Written.find(crlf ? "}\n" : "}\r\n"), std::string::npos) << "one kind of line end";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string &line = lines[i];
      SCOPED_TRACE(line);
      EXPECT_EQ(line.rfind("{\"n\":" + std::to_string(i + 1) + ",\"call\":\"" + calls[i] + "\"", 0),
                0u);
      EXPECT_NE(line.find(",\"result\":"), std::string::npos);
      if (calls[i].rfind("Reg", 0) == 0) {
        EXPECT_EQ(Field(line, "key").rfind("HKEY_LOCAL_MACHINE\\", 0), 0u);
      }
      if (calls[i] == "ReadFile" || calls[i] == "WriteFile" || calls[i] == "CloseHandle") {
        EXPECT_EQ(Field(line, "path").rfind(run.machine.WindowsDir() + "\\", 0), 0u);
      }
    }
    EXPECT_EQ(lines.front().rfind(R"({"n":1,"call":"MessageBoxA","caption":"Quorvane TQ72 Modem",)"
                                  R"("text":"If you want to remove)",
                                  0),
              0u);
    EXPECT_NE(lines.front().find(R"(kit.","style":260,"result":6})"), std::string::npos);
  }
}

// Every line is ASCII, whatever the text; a handle whose path the session
// has no room for logs "" rather than another handle's path.
TEST(SessionLogTest, EscapesTextAndForgetsNoPathItKept) {
  scratch::Rig run({{"Enum\\A", {}}}, {});
  Written.clear();
  std::vector<HKEY> keys(session::OpenPathCapacity + 1);
  {
    interposer::SessionScope session({.goOn = true, .log = &Collect});
    MessageBoxA(nullptr, "Line 1\r\n\"caf\xe9\"\x01", nullptr, MB_OK);
    for (HKEY &key : keys)
      ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\A", 0, KEY_READ, &key), 0);
    for (HKEY key : keys) RegCloseKey(key);
  }
  const std::vector<std::string> lines = Lines(Written, "\n");
  ASSERT_EQ(lines.size(), 1 + 2 * keys.size());
  EXPECT_EQ(lines[0], R"({"n":1,"call":"MessageBoxA","caption":"Error",)"
                      R"("text":"Line 1\r\n\"caf\u00e9\"\u0001","style":0,"result":1})");
  EXPECT_EQ(lines[1], R"({"n":2,"call":"RegOpenKeyExA","key":"HKEY_LOCAL_MACHINE\\Enum\\A",)"
                      R"("access":131097,"result":0})");
  for (std::size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(Field(lines[1 + keys.size() + i], "key"),
              i < session::OpenPathCapacity ? "HKEY_LOCAL_MACHINE\\Enum\\A" : "")
        << i;
}

// The session and the interposer are layers of one kind: whichever goes on
// last forwards to the other, and each puts back what was below it, so the
// session logs what passed through an interposer built after it began, and
// is still there when that interposer goes.
TEST(SessionLayerTest, StacksUnderAnInterposerAndOutlivesIt) {
  scratch::Machine machine({{"Enum\\A", {}}}, {});
  Written.clear();
  {
    interposer::SessionScope session({.goOn = true, .log = &Collect});
    {
      interposer::Interposer layer;
      machine.Interpose(layer);
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\A", 0, KEY_READ, &key), 0);
      RegCloseKey(key);
      EXPECT_EQ(layer.CallCount(), 2u);
    }
    EXPECT_EQ(MessageBoxA(nullptr, "Text", "Caption", MB_OK), IDOK) << "answered by the session";
  }
  const std::vector<std::string> lines = Lines(Written, "\n");
  ASSERT_EQ(lines.size(), 3u) << Written;
  // Below the interposer, the session sees the key the scratch machine
  // redirects HKEY_LOCAL_MACHINE to: on Windows a key opened before the
  // session began, whose path the session cannot know.
  if (machine.LocalMachine() == HKEY_LOCAL_MACHINE) {
    EXPECT_EQ(Field(lines[0], "key"), "HKEY_LOCAL_MACHINE\\Enum\\A");
  } else {
    EXPECT_TRUE(Field(lines[0], "key").ends_with("Enum\\A")) << lines[0];
  }
  EXPECT_EQ(Field(lines[2], "caption"), "Caption");
  EXPECT_EQ(Calls.MessageBoxA, NativeCalls.MessageBoxA) << "the platform's calls are back";
}

}  // namespace
