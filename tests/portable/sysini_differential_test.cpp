// The streaming rewrite against a whole-file model of the same rules, on many
// generated files: line ends of every kind, lone CRs, Ctrl-Z, zero bytes and
// markers placed across the 255-character piece limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_machine.h"
#include "support/sysini_model.h"
#include "sysini/system_ini.h"
#include "sysini/text_stream.h"

namespace {

using scratch::ModelPieces;
using scratch::ModelRewrite;

// -------------------------------------------------------------- generator
// A line is its text and its line end, kept apart so that the same file can
// be rendered as generated and as a marker-free CR LF file.
using Line = std::pair<std::string, std::string>;

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : state_(seed) {}

  std::vector<Line> File() {
    static const char *const Ends[] = {"\r\n", "\r\n", "\r\n", "\r\n", "\r\n",
                                       "\r\n", "\n",   "\n",   "\r",   ""};
    std::vector<Line> lines(Below(8) == 0 ? 40 + Below(20) : Below(12));  // some over one buffer
    for (Line &line : lines) line = {Text(), Ends[Below(10)]};
    return lines;
  }

 private:
  std::uint32_t Below(std::uint32_t n) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % n;
  }

  // Lengths cluster around the piece limit, and a third of the lines get a
  // marker, often placed where the limit may cut it. No other 'q' is
  // generated, so markers appear only on purpose.
  std::string Text() {
    static const std::uint32_t Lengths[] = {0, 3, 20, 120, 244, 248, 250, 253, 255, 258, 300, 509};
    static const std::string Odd[] = {"QVNVCD", "qvnv", "\r", "\x1a", std::string(1, '\0')};
    std::string text;
    for (std::size_t length = Lengths[Below(12)] + Below(6); text.size() < length;) {
      std::uint32_t pick = Below(48);
      if (pick < 5)
        text += Odd[pick];
      else if (pick == 5)
        text += static_cast<char>(0x80 + Below(128));
      else
        text += "abdefghijkl=. "[Below(14)];
    }
    if (Below(3) == 0) {
      auto size = static_cast<std::uint32_t>(text.size());
      text.insert(Below(2) == 0 && size > 256 ? 244 + Below(12) : Below(size + 1), DriverMarker);
    }
    return text;
  }

  std::uint32_t state_;
};

// plain: CR LF after every line, no lone CR or LF, the marker's first letter
// in capitals.
std::string Render(const std::vector<Line> &lines, bool plain = false) {
  std::string bytes;
  for (const auto &[text, end] : lines) {
    if (!plain) {
      bytes += text + end;
      continue;
    }
    for (char c : text)
      if (c != '\r' && c != '\n') bytes += c == 'q' ? 'Q' : c;
    bytes += "\r\n";
  }
  return bytes;
}

constexpr int FileCount = 150;

// Each generated file is rewritten as generated, compared with the model, and
// as a marker-free CR LF file, which must come back byte for byte; then all of
// them as one file, whose pieces straddle the reads and writes of whole
// stream buffers.
TEST(DifferentialTest, StreamingRewriteMatchesWholeFileModel) {
  scratch::Rig run({}, {});
  auto rewrite = [&](const std::string &before) {
    EXPECT_TRUE(run.machine.WriteFile("system.ini", before));
    RewriteSystemIni();
    EXPECT_EQ(run.layer.OpenFiles(), 0u);
    EXPECT_FALSE(run.machine.ReadFile("system.new"));
    return run.machine.ReadFile("system.ini").value_or("(gone)");
  };
  Generator generator(0x7172u);
  int blanked = 0;
  std::string all;
  for (int i = 0; i < FileCount; ++i) {
    std::vector<Line> lines = generator.File();
    std::string before = Render(lines), expected = ModelRewrite(before);
    ASSERT_EQ(rewrite(before), expected) << "file " << i;
    if (expected.size() < before.size()) ++blanked;
    std::string plain = Render(lines, true);
    ASSERT_EQ(rewrite(plain), plain) << "marker-free file " << i;
    all += before;
  }
  EXPECT_GT(blanked, FileCount / 4) << "the generator should place markers often";
  ASSERT_GT(all.size(), 3 * TextBufferSize);
  EXPECT_TRUE(rewrite(all) == ModelRewrite(all)) << "all files as one";
}

// The reader against the model's pieces, with each file divided between reads
// in another way, so that pieces, CR LF pairs and markers straddle reads.
TEST(DifferentialTest, ReaderMatchesModelPiecesHoweverTheFileIsRead) {
  const platform::DWORD Chunks[] = {1, 2, 3, 5, 64, 253, 254, 255, 256, 257, 4096, TextBufferSize};
  scratch::Rig run({}, {});
  Generator generator(0x7172u);
  for (int i = 0; i < FileCount; ++i) {
    std::string before = Render(generator.File());
    platform::DWORD chunk = Chunks[i % std::size(Chunks)];
    ASSERT_TRUE(run.machine.WriteFile("system.ini", before));
    run.layer.SplitReads(chunk);
    TextInput input;
    ASSERT_TRUE(OpenTextInput(input, run.machine.PathOf("system.ini").c_str()));
    std::vector<std::string> pieces;
    char piece[PieceBufferSize];
    while (!input.endOfFile && !input.error) {
      platform::DWORD length = ReadPiece(input, piece, PieceBufferSize);
      if (length != 0) pieces.emplace_back(piece, length);
    }
    CloseTextInput(input);
    ASSERT_FALSE(input.error);
    ASSERT_EQ(pieces, ModelPieces(before)) << "file " << i << ", chunk " << chunk;
  }
  EXPECT_EQ(run.layer.OpenFiles(), 0u);
}

}  // namespace
