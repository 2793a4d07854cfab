#include "platform/hosted/fault_plan.h"

namespace hosted {

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAtOrBelow(std::string_view key, std::string_view base) {
  if (base.empty() || key.size() < base.size()) return false;
  if (!EqualIgnoringCase(key.substr(0, base.size()), base)) return false;
  return key.size() == base.size() || key[base.size()] == '\\';
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

void FaultInjector::Reset() {
  plan_ = FaultPlan{};
  calls_ = 0;
  injected_ = 0;
}

bool FaultInjector::NextCall(std::string_view key, std::string_view file1,
                             std::string_view file2) {
  ++calls_;
  bool fail = plan_.failCall != 0 &&
              (calls_ == plan_.failCall || (plan_.persistent && calls_ > plan_.failCall));
  fail = fail || IsAtOrBelow(key, plan_.failKey);
  const std::string &file = plan_.failFile;
  fail = fail || (!file.empty() && ((!file1.empty() && EqualIgnoringCase(file1, file)) ||
                                    (!file2.empty() && EqualIgnoringCase(file2, file))));
  if (fail) ++injected_;
  return fail;
}

}  // namespace hosted
