#include "platform/hosted/call_log.h"

#include <cerrno>
#include <cstring>

namespace hosted {

std::string JsonString(std::string_view bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7f) {
          out += "\\u00";
          out += hex[byte >> 4];
          out += hex[byte & 0xf];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

LogLine::LogLine(unsigned callNumber, std::string_view call) {
  json_ = "{\"n\":" + std::to_string(callNumber) + ",\"call\":" + JsonString(call);
}

LogLine &LogLine::Name(std::string_view name) {
  json_ += ',';
  json_ += JsonString(name);
  json_ += ':';
  return *this;
}

LogLine &LogLine::Text(std::string_view name, std::string_view value) {
  Name(name);
  json_ += JsonString(value);
  return *this;
}

LogLine &LogLine::Text(std::string_view name, const char *value) {
  if (value != nullptr) return Text(name, std::string_view(value));
  Name(name);
  json_ += "null";
  return *this;
}

LogLine &LogLine::Number(std::string_view name, long long value) {
  Name(name);
  json_ += std::to_string(value);
  return *this;
}

LogLine &LogLine::Flag(std::string_view name, bool value) {
  Name(name);
  json_ += value ? "true" : "false";
  return *this;
}

bool CallLog::Open(const std::string &path, std::string *error) {
  Close();
  if (path.empty()) return true;
  if (path == "-") {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "log " + path + ": " + std::strerror(errno);
    return false;
  }
  owned_ = true;
  return true;
}

void CallLog::Close() {
  if (file_ != nullptr && owned_) std::fclose(file_);
  else if (file_ != nullptr) std::fflush(file_);
  file_ = nullptr;
  owned_ = false;
}

void CallLog::Write(const LogLine &line) {
  if (file_ == nullptr) return;
  const std::string text = line.Finish();
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

}  // namespace hosted
