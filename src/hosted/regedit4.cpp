#include "hosted/regedit4.h"

#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include "hosted/posix_files.h"
#include "hosted/text_helpers.h"
#include "platform/platform.h"

namespace hosted {

namespace {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return NamesEqual(text.substr(0, prefix.size()), prefix);
}

}  // namespace

// ------------------------------------------------------------------ parser

class Parser {
 public:
  Parser(Regedit4Store::Kept &store, Tree &tree, const std::string &name, std::string *error)
      : store_(store), tree_(tree), text_(store.text), name_(name), error_(error) {}

  bool Run() {
    if (!NextLine()) return Fail("missing REGEDIT4 header (the file is empty)");
    std::string_view header = Line();
    while (!header.empty() && IsBlank(header.back())) header.remove_suffix(1);
    if (header != "REGEDIT4") return Fail("missing REGEDIT4 header");
    store_.segments.push_back({0, 0, nullptr});
    while (NextLine()) {
      while (cur_ < end_ && IsBlank(text_[cur_])) ++cur_;
      if (cur_ == end_) continue;
      const char c = text_[cur_];
      if (c == ';') continue;  // comment
      if (c == '[') {
        if (!Section()) return false;
      } else if (c == '"' || c == '@') {
        if (!ValueLine()) return false;
      } else if (path_.empty()) {
        return Fail("text before any section");
      } else {
        return Fail("bad value line (expected \"name\"=, @= or a [section])");
      }
    }
    store_.segments.back().end = text_.size();
    tree_.SortChildren();
    return true;
  }

 private:
  // Regedit exports keys in the order they were created: thousands of
  // siblings in any order (CLSID), which sorted insertion makes quadratic.
  // New children are appended, found through an ordered index (which no file
  // can make cost more than O(log n), as it could a hash), and sorted once.
  Key *Child(Key *parent, std::string_view name) {
    auto [it, inserted] = index_.try_emplace({parent, name}, nullptr);
    if (inserted) {
      it->second = tree_.AddKey(parent, name);
    }
    return it->second;
  }

  // Moves to the next line: [cur_, end_) is it, without its end. False at the end.
  bool NextLine() {
    if (next_ >= text_.size()) return false;
    lineStart_ = next_;
    const char *base = text_.data();
    const void *nl = std::memchr(base + next_, '\n', text_.size() - next_);
    std::size_t lineEnd =
        nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - base) : text_.size();
    next_ = nl ? lineEnd + 1 : text_.size();
    if (lineEnd > lineStart_ && base[lineEnd - 1] == '\r') --lineEnd;
    cur_ = lineStart_;
    end_ = lineEnd;
    ++lineNo_;
    return true;
  }
  std::string_view Line() const { return std::string_view(text_).substr(cur_, end_ - cur_); }

  bool Fail(std::string_view reason) {
    *error_ = name_ + ':' + std::to_string(std::max<std::size_t>(lineNo_, 1)) + ": " +
              std::string(reason);
    return false;
  }

  void SkipBlanks() {
    while (cur_ < end_ && IsBlank(text_[cur_])) ++cur_;
  }
  bool RestIsBlank(std::size_t from) const {
    for (std::size_t i = from; i < end_; ++i)
      if (!IsBlank(text_[i])) return false;
    return true;
  }

  bool Section() {
    // The closing bracket is the last one of the line: names may hold ']'.
    const std::size_t close = Line().rfind(']');
    if (close == std::string_view::npos || close == 0)
      return Fail("unterminated section (no closing ']')");
    if (!RestIsBlank(cur_ + close + 1)) return Fail("unexpected text after the section's ']'");
    const std::string_view inner = Line().substr(1, close - 1);
    if (!inner.empty() && inner.front() == '-')
      return Fail("deletion line (a registry exported by Windows 95/98 holds none)");
    if (inner.empty()) return Fail("empty section name");

    if (!SplitNames(inner, &parts_))
      return Fail("empty key name in section (leading, trailing or doubled '\\')");
    if (inner.find('\0') != std::string_view::npos) return Fail("NUL byte in a key name");
    Key *root = RootNamed(parts_[0]);
    if (root == nullptr) return Fail("unknown root key " + Quoted(parts_[0]));

    // The previous segment ends where this section line starts.
    store_.segments.back().end = lineStart_;
    store_.segments.push_back({lineStart_, 0, nullptr});

    // From the longest prefix shared with the previous section's path:
    // regedit writes subkeys right after their key, and a deep path then
    // costs no lookup per level.
    if (path_.empty() || path_[0] != root) path_.assign(1, root);
    std::size_t shared = 1;
    while (shared < parts_.size() && shared < path_.size() &&
           NamesEqual(parts_[shared], path_[shared]->name))
      ++shared;
    path_.resize(shared);
    for (std::size_t i = shared; i < parts_.size(); ++i)
      path_.push_back(Child(path_.back(), parts_[i]));
    store_.segments.back().key = path_.back();
    return true;
  }

  // A quoted string at cur_ (on '"'): *out is its unescaped text.
  bool QuotedString(std::string_view *out) {
    const char *base = text_.data();
    const std::size_t from = cur_ + 1;
    // Without escapes, the text itself.
    const void *q = std::memchr(base + from, '"', end_ - from);
    const std::size_t quote = q ? static_cast<std::size_t>(static_cast<const char *>(q) - base) : 0;
    if (q != nullptr && std::memchr(base + from, '\\', quote - from) == nullptr) {
      *out = std::string_view(base + from, quote - from);
      cur_ = quote + 1;
      return true;
    }
    // Unescaped into the arena.
    char *dst = store_.arena.get() + store_.arenaUsed;
    std::size_t n = 0;
    std::size_t i = from;
    for (;;) {
      if (i >= end_) return Fail("unterminated string");
      char c = base[i];
      if (c == '"') break;
      if (c == '\\') {
        if (i + 1 >= end_) return Fail("unterminated string");
        c = base[++i];
        if (c != '\\' && c != '"')
          return Fail("bad escape in string (only \\\\ and \\\" are allowed)");
      }
      dst[n++] = c;
      ++i;
    }
    store_.arenaUsed += n;
    *out = std::string_view(dst, n);
    cur_ = i + 1;
    return true;
  }

  bool ValueLine() {
    if (path_.empty()) return Fail("value before any section");
    Value value;
    if (text_[cur_] == '@') {
      ++cur_;
    } else if (!QuotedString(&value.name)) {
      return false;
    }
    SkipBlanks();
    if (cur_ == end_ || text_[cur_] != '=')
      return Fail("bad value line (expected '=' after the value name)");
    ++cur_;
    SkipBlanks();
    const std::string_view rest = Line();
    if (rest.empty()) return Fail("bad value line (no data after '=')");
    if (rest.front() == '"') {
      if (!QuotedString(&value.data)) return false;
      if (!RestIsBlank(cur_)) return Fail("unexpected text after the value's closing quote");
      value.type = platform::REG_SZ;
      value.terminated = true;
    } else if (StartsWithNoCase(rest, "dword:")) {
      cur_ += 6;
      std::uint32_t number;
      if (!HexNumber(&number) || !RestIsBlank(cur_))
        return Fail("bad dword (expected 1 to 8 hex digits)");
      char *dst = store_.arena.get() + store_.arenaUsed;
      for (int b = 0; b < 4; ++b) dst[b] = static_cast<char>((number >> (8 * b)) & 0xFF);
      store_.arenaUsed += 4;
      value.data = std::string_view(dst, 4);
      value.type = platform::REG_DWORD;
    } else if (StartsWithNoCase(rest, "hex")) {
      cur_ += 3;
      value.type = platform::REG_BINARY;
      if (cur_ < end_ && text_[cur_] == '(') {
        ++cur_;
        if (!HexNumber(&value.type) || cur_ >= end_ || text_[cur_] != ')')
          return Fail("bad hex type (expected hex(N): with N in hex)");
        ++cur_;
      }
      if (cur_ >= end_ || text_[cur_] != ':')
        return Fail("bad value data (expected ':' after hex)");
      ++cur_;
      if (!HexBytes(&value.data)) return false;
    } else {
      return Fail("bad value data (expected \"text\", dword: or hex:)");
    }
    tree_.AddValue(path_.back(), value);
    return true;
  }

  // 1 to 8 hex digits from cur_, as a number.
  bool HexNumber(std::uint32_t *number) {
    std::size_t digits = 0;
    for (*number = 0; cur_ < end_ && HexDigit(text_[cur_]) >= 0; ++cur_, ++digits)
      *number = (*number << 4) | static_cast<std::uint32_t>(HexDigit(text_[cur_]));
    return digits >= 1 && digits <= 8;
  }

  // Comma-separated bytes from cur_, continued over lines that end in '\'.
  bool HexBytes(std::string_view *out) {
    char *dst = store_.arena.get() + store_.arenaUsed;
    std::size_t n = 0;
    bool afterComma = false;
    for (;;) {
      SkipBlanks();
      if (cur_ == end_) {
        if (afterComma) return Fail("bad hex data (a byte must follow ',')");
        break;
      }
      if (text_[cur_] == '\\' && RestIsBlank(cur_ + 1) && (afterComma || n == 0)) {
        if (!NextLine()) return Fail("continuation line missing at the end of the file");
        continue;
      }
      if (cur_ + 1 >= end_ || HexDigit(text_[cur_]) < 0 || HexDigit(text_[cur_ + 1]) < 0)
        return Fail("bad hex data (expected two hex digits per byte)");
      dst[n++] = static_cast<char>((HexDigit(text_[cur_]) << 4) | HexDigit(text_[cur_ + 1]));
      cur_ += 2;
      afterComma = false;
      SkipBlanks();
      if (cur_ == end_) break;
      if (text_[cur_] != ',') return Fail("bad hex data (expected ',' between bytes)");
      ++cur_;
      afterComma = true;
    }
    store_.arenaUsed += n;
    *out = std::string_view(dst, n);
    return true;
  }

  // The root of a full root name, case-insensitively; null if none.
  Key *RootNamed(std::string_view name) const {
    for (std::size_t i = 0; i < kRootCount; ++i) {
      Key *root = tree_.Root(static_cast<RootId>(i));
      if (NamesEqual(name, root->name)) return root;
    }
    return nullptr;
  }

  Regedit4Store::Kept &store_;
  Tree &tree_;
  const std::string &text_;
  const std::string &name_;
  std::string *error_;

  std::size_t next_ = 0;       // start of the next line
  std::size_t lineStart_ = 0;  // start of the current line
  std::size_t cur_ = 0;        // cursor in the current line
  std::size_t end_ = 0;        // end of the current line's content
  std::size_t lineNo_ = 0;

  std::vector<std::string_view> parts_;
  std::vector<Key *> path_;  // the keys of the current section, root first
  // Children by parent and name, case-insensitively.
  struct ChildOrder {
    bool operator()(const std::pair<const Key *, std::string_view> &a,
                    const std::pair<const Key *, std::string_view> &b) const {
      return a.first != b.first ? std::less<>()(a.first, b.first)
                                : CompareNames(a.second, b.second) < 0;
    }
  };
  std::map<std::pair<const Key *, std::string_view>, Key *, ChildOrder> index_;
};

// ------------------------------------------------------------------- store

Regedit4Store::Regedit4Store() : kept_(std::make_unique<Kept>()) {
  kept_->text = "REGEDIT4\r\n\r\n";
  kept_->segments.push_back({0, kept_->text.size(), nullptr});
}

bool Regedit4Store::Parse(std::string text, const std::string &name, Tree *tree,
                          std::string *error) {
  auto kept = std::make_unique<Kept>();
  kept->text = std::move(text);
  // Decoded data is never longer than its text, so the arena never grows.
  kept->arena.reset(new char[kept->text.size() + 16]);
  kept->segments.reserve(kept->text.size() / 256 + 2);
  // Every value takes a line at least: no value is copied again as the table grows.
  std::size_t lines = 0;
  for (const char *at = kept->text.data(), *end = at + kept->text.size();
       (at = static_cast<const char *>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) != nullptr;
       ++at)
    ++lines;
  tree->ReserveValues(lines);
  Parser parser(*kept, *tree, name, error);
  if (!parser.Run()) return false;
  kept_ = std::move(kept);
  return true;
}

void Regedit4Store::SaveText(const Tree &tree, std::vector<std::string_view> *pieces,
                         std::string *extra) const {
  pieces->clear();
  extra->clear();
  const std::string_view text = kept_->text;
  // The kept sections in runs of the original text; loading them (re)creates
  // every key on their paths.
  std::vector<bool> covered(tree.KeyCount());
  std::size_t runBegin = 0, runEnd = 0;
  for (const Segment &segment : kept_->segments) {
    if (segment.key != nullptr && Tree::IsDeleted(segment.key)) continue;
    for (const Key *k = segment.key; k != nullptr && !covered[k->id]; k = k->parent)
      covered[k->id] = true;
    if (segment.begin != runEnd) {
      if (runEnd > runBegin) pieces->push_back(text.substr(runBegin, runEnd - runBegin));
      runBegin = segment.begin;
    }
    runEnd = segment.end;
  }
  if (runEnd > runBegin) pieces->push_back(text.substr(runBegin, runEnd - runBegin));

  // A live key made only by sections left out (implicitly, as the parent of
  // a removed key) gets a section of its own at the end.
  const std::string_view eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  // What completes the last kept line: nothing after a line end, "\n" after
  // a bare CR (which the parser took as the end of the line), else a line end.
  std::string_view completion = eol;
  if (runEnd == 0 || text[runEnd - 1] == '\n') {
    completion = {};
  } else if (text[runEnd - 1] == '\r') {
    completion = "\n";
  }
  for (const Key *removed : tree.Removed()) {
    const Key *key = removed->parent;
    if (covered[key->id] || key->parent == nullptr || Tree::IsDeleted(key)) continue;
    covered[key->id] = true;
    if (extra->empty()) *extra += completion;
    *extra += '[';
    *extra += Tree::PathOf(key);
    *extra += ']';
    *extra += eol;
    *extra += eol;
  }
  if (!extra->empty()) pieces->push_back(*extra);
}

bool Regedit4Store::Load(int dirFd, std::unique_ptr<Tree> *tree, std::string *error) {
  std::string text;
  mode_t mode;
  if (!ReadFileAt(dirFd, kRegistryName, &text, &mode, error)) return false;
  mode_ = mode;
  if (*tree != nullptr && text == kept_->text) return true;
  auto fresh = std::make_unique<Tree>();
  if (!Parse(std::move(text), kRegistryName, fresh.get(), error)) return false;
  *tree = std::move(fresh);
  return true;
}

bool Regedit4Store::Save(int dirFd, const Tree &tree, std::string *error) {
  if (tree.Removed().empty()) return true;
  std::vector<std::string_view> pieces;
  std::string extra;
  SaveText(tree, &pieces, &extra);
  auto write = [&](int fd) {
    for (std::string_view piece : pieces)
      if (!WriteAll(fd, piece)) return false;
    return true;
  };
  return ReplaceFile(dirFd, kRegistryName, mode_, false, write, error);
}

}  // namespace hosted
