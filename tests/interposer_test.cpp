// The fault layer itself: which call a plan hits, and directory answers with
// Win32's sizes, on which the sweeps and the path tests build.
#include "interposer/interposer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/temp_machine.h"

using namespace platform;

namespace {

TEST(FaultLayer, FailsTheNthCallOnceOrFromThenOnAndClosesStillRelease) {
  testsupport::TempMachine machine;
  machine.WriteFile("WINDOWS/SYSTEM.INI", "ini");
  machine.Start();
  for (bool persistent : {false, true}) {
    interposer::Interposer layer;
    layer.SetPlan({.call = 2, .persistent = persistent, .effect = interposer::Effect::Fail});
    char buffer[256];
    std::vector<UINT> results;
    for (int i = 0; i < 4; ++i) results.push_back(GetWindowsDirectoryA(buffer, sizeof buffer));
    EXPECT_EQ(results,
              (persistent ? std::vector<UINT>{10, 0, 0, 0} : std::vector<UINT>{10, 0, 10, 10}));
    EXPECT_EQ(layer.Injected(), persistent ? 3u : 1u);
    HANDLE file = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file == INVALID_HANDLE_VALUE, persistent);
    layer.SetPlan({.call = 1, .persistent = true, .effect = interposer::Effect::Fail});
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_FALSE(CloseHandle(file));
    }
    EXPECT_EQ(layer.OpenFiles(), 0u);
    EXPECT_EQ(hosted::OpenFileCount(), 0u) << "a failed close still releases its handle";
  }
  machine.Stop();
}

// Win32's sizes: the length without the zero when it fits, else the size
// needed with it; 0 when the query fails.
TEST(FaultLayer, AnswersDirectoryQueriesLikeWin32) {
  interposer::Interposer layer;
  const std::string w252 = "C:\\" + std::string(252, 'W'), w253 = w252 + 'W';
  std::tuple<std::string, UINT, UINT, bool> cases[] = {
      {"C:\\WINDOWS", 256, 10, true}, {"C:\\WINDOWS", 11, 10, true}, {"C:\\WINDOWS", 10, 11, false},
      {"C:\\WINDOWS", 0, 11, false},  {"", 256, 0, false},           {w252, 256, 255, true},
      {w253, 256, 257, false}};
  for (const auto &[windows, size, expected, copies] : cases) {
    SCOPED_TRACE(testing::Message() << windows.size() << " characters, buffer " << size);
    layer.SetDirectories(windows, "C:\\WINDOWS\\SYSTEM");
    std::vector<char> buffer(300, '#');
    EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), size), expected);
    if (copies) {
      EXPECT_EQ(std::string(buffer.data()), windows);
    }
  }
}

}  // namespace
