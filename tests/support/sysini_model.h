// The system.ini rewrite as a whole-file model: the same rules as the
// streaming rewrite, stated over the whole text at once, for differential
// tests and the fuzz target. No test framework: the fuzz build links it too.
#pragma once

#include <string>
#include <vector>

namespace scratch {

// What system.ini must hold after the rewrite of `bytes`: CR LF read as one
// line end, pieces of at most PieceBufferSize - 1 characters, each piece
// holding DriverMarker before any zero byte replaced by BlankedLine, and
// line ends written as CR LF.
std::string ModelRewrite(const std::string &bytes);
// The pieces the reader must give for `bytes`, in order (CR LF read as LF).
std::vector<std::string> ModelPieces(const std::string &bytes);

}  // namespace scratch
