// The streaming rewrite against a whole-file model of the same rules, on many
// generated files: line ends of every kind, lone CRs, Ctrl-Z, zero bytes and
// markers placed across the 255-character piece limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hosted/hosted.h"
#include "support/temp_machine.h"
#include "sysini/system_ini.h"
#include "sysini/text_stream.h"

namespace {

using testsupport::TempMachine;

// ------------------------------------------------------------------ model
std::string TranslateCrLf(const std::string &bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

std::vector<std::string> SplitPieces(const std::string &text) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (pieces.back().size() == PieceBufferSize - 1) pieces.emplace_back();
    pieces.back() += c;
    if (c == '\n') pieces.emplace_back();
  }
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

std::string ModelRewrite(const std::string &bytes) {
  std::string out;
  for (const std::string &piece : SplitPieces(TranslateCrLf(bytes))) {
    std::string searched = piece.substr(0, piece.find('\0'));
    std::string kept = searched.find(DriverMarker) == std::string::npos ? piece : BlankedLine;
    for (char c : kept) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return out;
}

// -------------------------------------------------------------- generator
// A line: its text and how it ends. Kept apart so that the same file can be
// rendered as generated and as a marker-free CR LF file.
enum class End { CrLf, Lf, Cr, None };
struct Line {
  std::string text;
  End end;
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : state_(seed) {}

  std::vector<Line> File() {
    std::vector<Line> lines(Below(12));
    if (Below(8) == 0) lines.resize(40 + Below(20));  // more than one buffer
    for (Line &line : lines) {
      line.text = Text();
      unsigned end = Below(10);
      line.end = end < 6 ? End::CrLf : end < 8 ? End::Lf : end < 9 ? End::Cr : End::None;
    }
    return lines;
  }

 private:
  std::uint32_t Below(std::uint32_t n) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % n;
  }

  // Lengths cluster around the piece limit, and a third of the lines get a
  // marker, often placed where the limit may cut it.
  std::string Text() {
    static const std::uint32_t Lengths[] = {0, 3, 20, 120, 244, 248, 250, 253, 255, 258, 300, 509};
    std::string text;
    std::size_t length = Lengths[Below(12)] + Below(6);
    while (text.size() < length) {
      switch (Below(48)) {
        case 0: text += "QVNVCD"; break;
        case 1: text += "qvnv"; break;
        case 2: text += '\r'; break;
        case 3: text += '\x1a'; break;
        case 4: text += '\0'; break;
        case 5: text += static_cast<char>(0x80 + Below(128)); break;
        default: text += "abdefghijkl=. "[Below(14)];  // no q: markers only on purpose
      }
    }
    if (Below(3) == 0) {
      std::size_t at = Below(2) == 0 && text.size() > 256 ? 244 + Below(12) : Below(static_cast<std::uint32_t>(text.size()) + 1);
      text.insert(at, DriverMarker);
    }
    return text;
  }

  std::uint32_t state_;
};

std::string Render(const std::vector<Line> &lines) {
  std::string bytes;
  for (const Line &line : lines) {
    bytes += line.text;
    bytes += line.end == End::CrLf ? "\r\n" : line.end == End::Lf ? "\n" : line.end == End::Cr ? "\r" : "";
  }
  return bytes;
}

// The same file with CR LF after every line, no lone CR or LF, and the
// marker's first letter in capitals.
std::string RenderPlainCrLf(std::vector<Line> lines) {
  for (Line &line : lines) {
    std::string text;
    for (char c : line.text) {
      if (c != '\r' && c != '\n') text += c == 'q' ? 'Q' : c;
    }
    line.text = text;
    line.end = End::CrLf;
  }
  return Render(lines);
}

constexpr int FileCount = 200;

class DifferentialTest : public testing::Test {
 protected:
  void SetUp() override { machine_.Start(); }
  void TearDown() override { machine_.Stop(); }

  std::string Rewrite(const std::string &before) {
    machine_.WriteFile("WINDOWS/system.ini", before);
    RewriteSystemIni();
    EXPECT_EQ(hosted::OpenFileCount(), 0u);
    EXPECT_FALSE(machine_.Exists("WINDOWS/system.new"));
    return machine_.ReadFile("WINDOWS/system.ini");
  }

  TempMachine machine_;
};

TEST_F(DifferentialTest, StreamingRewriteMatchesWholeFileModel) {
  Generator generator(0x7172u);
  int blanked = 0;
  for (int i = 0; i < FileCount; ++i) {
    std::string before = Render(generator.File());
    std::string expected = ModelRewrite(before);
    ASSERT_EQ(Rewrite(before), expected) << "file " << i;
    if (expected.size() < before.size()) ++blanked;
  }
  EXPECT_GT(blanked, FileCount / 4) << "the generator should place markers often";
}

TEST_F(DifferentialTest, MarkerFreeCrLfFileComesBackUnchanged) {
  Generator generator(0x1998u);
  for (int i = 0; i < FileCount; ++i) {
    std::string before = RenderPlainCrLf(generator.File());
    ASSERT_EQ(Rewrite(before), before) << "file " << i;
  }
}

// The reader alone, on small random chunks: its pieces are the model's.
// Files of one buffer suffice, since the chunks divide them everywhere.
TEST_F(DifferentialTest, PiecesMatchModelForRandomChunks) {
  Generator generator(0x4096u);
  for (int i = 0; i < FileCount; ++i) {
    std::string bytes = Render(generator.File());
    if (bytes.size() > TextBufferSize) continue;
    machine_.WriteFile("WINDOWS/pieces.ini", bytes);
    TextInput input;
    ASSERT_TRUE(OpenTextInput(input, "C:\\WINDOWS\\pieces.ini", 1 + i % 13));
    std::vector<std::string> pieces;
    char piece[PieceBufferSize];
    while (!input.endOfFile && !input.error) {
      platform::DWORD length = ReadPiece(input, piece, PieceBufferSize);
      if (length > 0) pieces.emplace_back(piece, length);
    }
    CloseTextInput(input);
    ASSERT_FALSE(input.error);
    ASSERT_EQ(pieces, SplitPieces(TranslateCrLf(bytes))) << "file " << i;
  }
}

}  // namespace
