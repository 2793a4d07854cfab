#include "platform/hosted/message_box.h"

#include <algorithm>
#include <vector>

#include "platform/hosted/text_helpers.h"
#include "platform/platform.h"
#include "platform/session.h"

namespace hosted {

using namespace platform;
using session::DefaultButton;

namespace {

bool IsYesNo(unsigned style) { return (style & 0x000F) == MB_YESNO; }

// Control bytes are shown as '?', so that no text can drive the terminal.
char Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f ? '?' : c;
}

// The lines of a text (CR LF, LF or CR end one).
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += Shown(text[i]);
    }
  }
  return lines;
}

std::string Button(std::string_view name, bool isDefault) {
  return std::string(isDefault ? "< " : "[ ") + std::string(name) + (isDefault ? " >" : " ]");
}

// The button a typed line chooses (a button's initial or its name, either
// case; empty for the default); 0 when it names none.
int ChoiceOf(std::string line, unsigned style) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return DefaultButton(style);
  auto is = [&](std::string_view word) {
    return NamesEqual(line, word) || NamesEqual(line, word.substr(0, 1));
  };
  if (!IsYesNo(style)) return is("ok") ? IDOK : 0;
  return is("yes") ? IDYES : is("no") ? IDNO : 0;
}

}  // namespace

std::string DrawBox(std::string_view caption, std::string_view text, unsigned style) {
  const int def = DefaultButton(style);
  const std::string buttons = IsYesNo(style)
                                  ? Button("Yes", def == IDYES) + "  " + Button("No", def == IDNO)
                                  : Button("OK", true);
  const std::vector<std::string> lines = Lines(text);
  std::string title(caption);
  std::transform(title.begin(), title.end(), title.begin(), Shown);
  std::size_t width = std::max<std::size_t>(buttons.size(), title.size() + 2);
  for (const auto &line : lines) width = std::max(width, line.size());
  width += 4;
  // Built with append: GCC 12 reports a false -Wrestrict on chains of
  // string concatenation at -O3.
  std::string box;
  auto row = [&](const std::string &inner, std::size_t indent) {
    box.append("|").append(indent, ' ').append(inner);
    box.append(width - indent - inner.size(), ' ').append("|\n");
  };
  box.append("+- ").append(title).append(" ").append(width - title.size() - 3, '-').append("+\n");
  row("", 0);
  for (const auto &line : lines) row(line, 2);
  row("", 0);
  row(buttons, (width - buttons.size()) / 2);
  box.append("+").append(width, '-').append("+\n");
  return box;
}

int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style, std::FILE *in,
                  std::FILE *out) {
  if (!session::IsShowableStyle(style)) return 0;
  std::fputs(DrawBox(caption, text, style).c_str(), out);
  const char *prompt = !IsYesNo(style)                ? "OK? [o, Enter = OK]: "
                       : DefaultButton(style) == IDNO ? "Yes or No? [y/n, Enter = No]: "
                                                      : "Yes or No? [y/n, Enter = Yes]: ";
  for (;;) {
    std::fputs(prompt, out);
    std::fflush(out);
    std::string line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) {
      std::fputs("\n", out);
      return 0;
    }
    if (int choice = ChoiceOf(line, style)) return choice;
  }
}

}  // namespace hosted
