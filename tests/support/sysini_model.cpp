#include "support/sysini_model.h"

#include <vector>

#include "sysini/system_ini.h"

namespace scratch {

namespace {

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

}  // namespace

std::vector<std::string> ModelPieces(const std::string &bytes) {
  return SplitPieces(TranslateCrLf(bytes));
}

std::string ModelRewrite(const std::string &bytes) {
  std::string out;
  for (const std::string &piece : ModelPieces(bytes)) {
    std::string searched = piece.substr(0, piece.find('\0'));
    std::string kept = searched.find(DriverMarker) == std::string::npos ? piece : BlankedLine;
    for (char c : kept) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return out;
}

}  // namespace scratch
