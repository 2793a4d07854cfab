// The text streams under system.ini: what each read of a piece returns and
// when it sets the indicators, however the file is divided between reads;
// and when a failed write of the buffered output shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hosted/hosted.h"
#include "support/temp_machine.h"
#include "sysini/system_ini.h"
#include "sysini/text_stream.h"

namespace {

hosted::FaultPlan FailCall(unsigned number, bool persistent = false) {
  hosted::FaultPlan plan;
  plan.failCall = number;
  plan.persistent = persistent;
  return plan;
}

using namespace std::string_literals;
using testsupport::TempMachine;

const char HostName[] = "WINDOWS/text.ini";
const char WindowsName[] = "C:\\WINDOWS\\text.ini";

// One ReadPiece: what it returned and the indicators after it.
struct Read {
  std::string piece;
  bool endOfFile = false;
  bool error = false;
  bool operator==(const Read &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Read &read) {
  out << '"';
  for (unsigned char c : read.piece) {
    if (c >= 0x20 && c < 0x7f) {
      out << c;
    } else {
      out << "\\x" << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
    }
  }
  return out << '"' << (read.endOfFile ? " eof" : "") << (read.error ? " error" : "");
}

// Reads `count` pieces of 255 characters at most, as the rewrite does.
std::vector<Read> ReadPieces(TextInput &input, std::size_t count) {
  std::vector<Read> reads;
  char piece[PieceBufferSize];
  for (std::size_t i = 0; i < count; ++i) {
    platform::DWORD length = ReadPiece(input, piece, PieceBufferSize);
    EXPECT_EQ(piece[length], '\0');
    reads.push_back({std::string(piece, length), input.endOfFile, input.error});
  }
  return reads;
}

class StreamTest : public testing::Test {
 protected:
  void SetUp() override { machine_.Start(); }
  void TearDown() override {
    EXPECT_EQ(hosted::OpenFileCount(), 0u);
    machine_.Stop();
  }
  TempMachine machine_;
};

struct ReaderCase {
  const char *name;
  std::string bytes;
  std::vector<Read> reads;
};
void PrintTo(const ReaderCase &c, std::ostream *out) { *out << c.name; }

const std::string X254(254, 'x');
const std::string X255(255, 'x');

std::vector<ReaderCase> ReaderCases() {
  return {
      {"LastLfThenNothingSetsEof", "A\r\nB\r\n", {{"A\n"}, {"B\n"}, {"", true}}},
      {"DataEndingInsidePieceSetsEofWithIt", "A\r\nB", {{"A\n"}, {"B", true}, {"", true}}},
      {"LoneCrAsLastByteDeliveredWithEof", "A\r", {{"A\r", true}, {"", true}}},
      {"EmptyFile", "", {{"", true}, {"", true}}},
      {"CrCrLf", "\r\r\n\n", {{"\r\n"}, {"\n"}, {"", true}}},
      {"CrBeforeCtrlZKept", "A\r\x1a\r\n", {{"A\r\x1a\n"}, {"", true}}},
      {"ZeroAndHighBytesDelivered", "a\0b\xff\n"s, {{"a\0b\xff\n"s}, {"", true}}},
      {"PieceOf255ThenItsLf", X255 + "\r\n", {{X255}, {"\n"}, {"", true}}},
      {"Line254FitsWithLf", X254 + "\r\n", {{X254 + "\n"}, {"", true}}},
      {"CrLfAsThe255thCharacter", X254 + "\r\r\n", {{X254 + "\r"}, {"\n"}, {"", true}}},
      {"PieceEndingExactlyAtEndOfData", X255, {{X255}, {"", true}}},
  };
}

class ReaderTable : public StreamTest, public testing::WithParamInterface<ReaderCase> {};

// Every chunk size from 1 on divides the file at every position, CR LF pairs
// included; the whole buffer is the program's own case.
TEST_P(ReaderTable, SameReadsForEveryChunkSize) {
  const ReaderCase &c = GetParam();
  machine_.WriteFile(HostName, c.bytes);
  for (platform::DWORD chunk : {1u, 2u, 3u, 4u, 5u, 7u, 64u, 255u, 256u, TextBufferSize}) {
    SCOPED_TRACE(chunk);
    TextInput input;
    ASSERT_TRUE(OpenTextInput(input, WindowsName, chunk));
    EXPECT_EQ(ReadPieces(input, c.reads.size()), c.reads);
    CloseTextInput(input);
  }
}

INSTANTIATE_TEST_SUITE_P(Reader, ReaderTable, testing::ValuesIn(ReaderCases()),
                         [](const auto &info) { return std::string(info.param.name); });

struct ReadErrorCase {
  const char *name;
  std::string bytes;
  platform::DWORD chunk;
  unsigned failedRead;  // 1 = the first ReadFile after the open
  Read read;
};
void PrintTo(const ReadErrorCase &c, std::ostream *out) { *out << c.name; }

// A failed read sets only the error indicator and returns what the piece had
// so far; nothing is read after it.
class ReadErrorTable : public StreamTest, public testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorTable, ErrorNotEof) {
  const ReadErrorCase &c = GetParam();
  machine_.WriteFile(HostName, c.bytes);
  TextInput input;
  ASSERT_TRUE(OpenTextInput(input, WindowsName, c.chunk));
  hosted::SetFaultPlan(FailCall(hosted::CallCount() + c.failedRead));
  EXPECT_EQ(ReadPieces(input, 1), std::vector<Read>{c.read});
  unsigned calls = hosted::CallCount();
  EXPECT_EQ(ReadPieces(input, 1), (std::vector<Read>{{"", false, true}}));
  EXPECT_EQ(hosted::CallCount(), calls) << "no read after an error";
  CloseTextInput(input);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, ReadErrorTable,
    testing::Values(ReadErrorCase{"FirstReadYieldsNothing", "AB\r\n", 4, 1, {"", false, true}},
                    ReadErrorCase{"InsideAPiece", "ABCD\r\n", 2, 2, {"AB", false, true}},
                    ReadErrorCase{"LookingForTheLfAfterCr", "A\r\n", 2, 2, {"A\r", false, true}}),
    [](const auto &info) { return std::string(info.param.name); });

using WriterTest = StreamTest;

// A full buffer is written only when more comes: the write that finds the
// file failing reports it, and so does every write after it and the close.
TEST_F(WriterTest, FailedWriteShowsAtALaterWrite) {
  TextOutput output;
  ASSERT_TRUE(OpenTextOutput(output, WindowsName));
  hosted::SetFaultPlan(FailCall(hosted::CallCount() + 1));
  const std::string full(TextBufferSize, 'a');
  EXPECT_TRUE(WriteText(output, full.data(), TextBufferSize));
  EXPECT_EQ(hosted::FaultsInjected(), 0u);
  EXPECT_FALSE(WriteText(output, "b", 1));
  EXPECT_EQ(hosted::FaultsInjected(), 1u);
  EXPECT_FALSE(WriteText(output, "c", 1));
  EXPECT_FALSE(CloseTextOutput(output));
}

TEST_F(WriterTest, FailedWriteShowsAtTheClose) {
  TextOutput output;
  ASSERT_TRUE(OpenTextOutput(output, WindowsName));
  hosted::SetFaultPlan(FailCall(hosted::CallCount() + 1));
  EXPECT_TRUE(WriteText(output, "A\n", 2));
  EXPECT_FALSE(CloseTextOutput(output));
  EXPECT_EQ(machine_.ReadFile(HostName), "");
}

}  // namespace
