// The streams under system.ini: what each read of a piece returns and when it
// sets the indicators, however the file is divided between reads, and the
// line ends the writer makes. Failed writes are the rewrite's fault sweep's
// part.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/scratch_machine.h"
#include "sysini/system_ini.h"
#include "sysini/text_stream.h"

namespace {

using namespace std::string_literals;

const char FileName[] = "text.ini";

// One ReadPiece: what it returned and the indicators after it.
struct Read {
  std::string piece;
  bool endOfFile = false;
  bool error = false;
  bool operator==(const Read &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Read &read) {
  return out << testing::PrintToString(read.piece) << (read.endOfFile ? " eof" : "")
             << (read.error ? " error" : "");
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
  void TearDown() override { EXPECT_EQ(run_.layer.OpenFiles(), 0u); }
  // Opens FileName holding bytes, each read of it divided into pieces of at
  // most `chunk` bytes.
  void Open(TextInput &input, const std::string &bytes, platform::DWORD chunk) {
    ASSERT_TRUE(run_.machine.WriteFile(FileName, bytes));
    run_.layer.SplitReads(chunk);
    ASSERT_TRUE(OpenTextInput(input, run_.machine.PathOf(FileName).c_str()));
  }
  scratch::Rig run_{{}, {}};
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
      {"CtrlZZeroAndHighBytesDelivered", "A\r\x1a\0\xff\r\n"s, {{"A\r\x1a\0\xff\n"s}, {"", true}}},
      {"PieceOf255ThenItsLf", X255 + "\r\n", {{X255}, {"\n"}, {"", true}}},
      {"CrLfAsThe255thCharacter", X254 + "\r\r\n", {{X254 + "\r"}, {"\n"}, {"", true}}},
      {"LineOf254AndItsCrLfFillAPiece", X254 + "\r\nB", {{X254 + "\n"}, {"B", true}}},
      {"PieceEndingExactlyAtEndOfData", X255, {{X255}, {"", true}}},
      // The last read, shorter than the one before, ends in a CR that fills
      // the piece: the bytes the longer read left after it (an LF) are no
      // data.
      {"ShortLastReadEndingInCr", "a\n" + X254 + "\r", {{"a\n"}, {X254 + "\r", true}, {"", true}}},
  };
}

class ReaderTable : public StreamTest, public testing::WithParamInterface<ReaderCase> {};

// Every chunk size from 1 on divides the file at every position, CR LF pairs
// included; the whole buffer is the program's own case.
TEST_P(ReaderTable, SameReadsForEveryChunkSize) {
  const ReaderCase &c = GetParam();
  for (platform::DWORD chunk : {1u, 2u, 3u, 4u, 5u, 7u, 64u, 255u, 256u, TextBufferSize}) {
    SCOPED_TRACE(chunk);
    TextInput input;
    Open(input, c.bytes, chunk);
    EXPECT_EQ(ReadPieces(input, c.reads.size()), c.reads);
    CloseTextInput(input);
  }
}

INSTANTIATE_TEST_SUITE_P(Reader, ReaderTable, testing::ValuesIn(ReaderCases()),
                         [](const auto &info) { return std::string(info.param.name); });

// A failed read sets only the error indicator and returns what the piece had
// so far, also when it was the read for the LF after a CR; nothing is read
// after it.
TEST_F(StreamTest, ReadErrorIsNoEndOfFile) {
  // The file, the chunk size, which read fails (1 = the first after the
  // open), and the piece that read returns.
  std::tuple<std::string, platform::DWORD, unsigned, std::string> cases[] = {
      {"AB\r\n", 4, 1, ""}, {"ABCD\r\n", 2, 2, "AB"}, {"A\r\n", 2, 2, "A\r"}};
  for (const auto &[bytes, chunk, failedRead, piece] : cases) {
    SCOPED_TRACE(bytes);
    TextInput input;
    Open(input, bytes, chunk);
    run_.layer.SetPlan(
        {.call = failedRead, .persistent = false, .effect = interposer::Effect::Fail});
    EXPECT_EQ(ReadPieces(input, 1), (std::vector<Read>{{piece, false, true}}));
    const unsigned calls = run_.layer.CallCount();
    EXPECT_EQ(ReadPieces(input, 1), (std::vector<Read>{{"", false, true}}));
    EXPECT_EQ(run_.layer.CallCount(), calls) << "no read after an error";
    CloseTextInput(input);
  }
}

// Every LF of a write becomes CR LF, wherever it stands, and zero bytes stay:
// the rewrite writes a piece at a time, ending at its LF, but the writer may
// not depend on that.
TEST_F(StreamTest, WriterEndsALineAtEveryLineFeed) {
  TextOutput output;
  ASSERT_TRUE(OpenTextOutput(output, run_.machine.PathOf(FileName).c_str()));
  const std::string text = "a\nb\n\nc\0d"s;
  EXPECT_TRUE(WriteText(output, text.data(), static_cast<platform::DWORD>(text.size())));
  EXPECT_TRUE(CloseTextOutput(output));
  EXPECT_EQ(run_.machine.ReadFile(FileName), "a\r\nb\r\n\r\nc\0d"s);
}

}  // namespace
