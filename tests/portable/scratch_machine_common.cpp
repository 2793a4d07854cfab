#include "portable/scratch_machine.h"

namespace scratch {

Value Text(std::string name, const std::string &text) {
  return {std::move(name), platform::REG_SZ, text + std::string(1, '\0')};
}

std::string Machine::PathOf(const std::string &relative) const {
  return WindowsDir() + "\\" + relative;
}

}  // namespace scratch
