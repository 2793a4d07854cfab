// Names from the command line or from a file, quoted for a one-line message.
#pragma once

#include <string>
#include <string_view>

namespace hosted {

// "name" with quotes and backslashes escaped and every control byte written
// as \n, \r, \t or \xHH, so that no name can break a one-line reason or send
// escape sequences to the terminal. Bytes >= 0x80 stay as they are.
std::string Quoted(std::string_view text);

}  // namespace hosted
