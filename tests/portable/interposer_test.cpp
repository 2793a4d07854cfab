// The interposer itself: which call a plan hits, and directory answers with
// Win32's sizes, on which the sweeps and the path tests build.
#include "interposer/interposer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/call_table.h"
#include "support/scratch_machine.h"

using namespace platform;

namespace {

TEST(Interposer, FailsTheNthCallOnceOrFromThenOnAndClosesStillRelease) {
  for (bool persistent : {false, true}) {
    scratch::Rig run({}, {{"SYSTEM.INI", "ini"}});
    run.layer.SetPlan({.call = 2, .persistent = persistent, .effect = interposer::Effect::Fail});
    const UINT length = static_cast<UINT>(run.machine.WindowsDir().size());
    char buffer[256];
    std::vector<UINT> results;
    for (int i = 0; i < 4; ++i) results.push_back(GetWindowsDirectoryA(buffer, sizeof buffer));
    EXPECT_EQ(results, (persistent ? std::vector<UINT>{length, 0, 0, 0}
                                   : std::vector<UINT>{length, 0, length, length}));
    EXPECT_EQ(run.layer.Injected(), persistent ? 3u : 1u);
    const std::string ini = run.machine.PathOf("SYSTEM.INI");
    HANDLE file = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file == INVALID_HANDLE_VALUE, persistent);
    run.layer.SetPlan({.call = 1, .persistent = true, .effect = interposer::Effect::Fail});
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_FALSE(CloseHandle(file));
    }
    EXPECT_EQ(run.layer.OpenFiles(), 0u);
    // An open file cannot be deleted, on Windows as on the hosted machine.
    EXPECT_TRUE(NativeCalls.DeleteFileA(ini.c_str())) << "a failed close still releases its handle";
  }
}

// Win32's sizes: the length without the zero when it fits, else the size
// needed with it; 0 when the query fails. A miscount is added to a length
// that fits only.
TEST(Interposer, AnswersDirectoryQueriesLikeWin32) {
  interposer::Interposer layer;
  const std::string w252 = "C:\\" + std::string(252, 'W'), w253 = w252 + 'W';
  std::tuple<std::string, UINT, UINT, UINT, bool> cases[] = {{"C:\\WINDOWS", 256, 0, 10, true},
                                                             {"C:\\WINDOWS", 11, 0, 10, true},
                                                             {"C:\\WINDOWS", 10, 0, 11, false},
                                                             {"C:\\WINDOWS", 0, 0, 11, false},
                                                             {"", 256, 0, 0, false},
                                                             {w252, 256, 0, 255, true},
                                                             {w253, 256, 0, 257, false},
                                                             {w252, 256, 1, 256, true},
                                                             {"C:\\WINDOWS", 10, 1, 11, false}};
  for (const auto &[windows, size, miscount, expected, copies] : cases) {
    SCOPED_TRACE(testing::Message()
                 << windows.size() << " characters, buffer " << size << ", miscount " << miscount);
    layer.SetDirectories(windows, "C:\\WINDOWS\\SYSTEM");
    layer.Miscount(miscount);
    std::vector<char> buffer(300, '#');
    EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), size), expected);
    if (copies) {
      EXPECT_EQ(std::string(buffer.data()), windows);
    }
  }
}

}  // namespace
