// The C library's memory and string functions that the Windows program needs:
// the removal logic calls some, and the compiler may call memcpy and memset on
// its own for copies and clears. The program links no C runtime, so these are
// ours. cstring.cpp gives them their C names in the Windows build only; the
// hosted build and its tests keep the system's C library, against which the
// tests compare these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nocrt {

inline void *memcpy(void *destination, const void *source, std::size_t count) {
  auto *to = static_cast<unsigned char *>(destination);
  const auto *from = static_cast<const unsigned char *>(source);
  for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
  return destination;
}

// Overlapping ranges: copying forward would overwrite bytes of the source not
// yet copied when the destination lies above it, so that case copies backward.
inline void *memmove(void *destination, const void *source, std::size_t count) {
  auto *to = static_cast<unsigned char *>(destination);
  const auto *from = static_cast<const unsigned char *>(source);
  if (reinterpret_cast<std::uintptr_t>(to) <= reinterpret_cast<std::uintptr_t>(from)) {
    for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
  } else {
    for (std::size_t i = count; i > 0; --i) to[i - 1] = from[i - 1];
  }
  return destination;
}

inline void *memset(void *destination, int value, std::size_t count) {
  auto *to = static_cast<unsigned char *>(destination);
  for (std::size_t i = 0; i < count; ++i) to[i] = static_cast<unsigned char>(value);
  return destination;
}

// Bytes compare as unsigned char, as the C library's do: text in the ANSI code
// page has bytes above 127, which a signed comparison would order first.
inline int memcmp(const void *left, const void *right, std::size_t count) {
  const auto *a = static_cast<const unsigned char *>(left);
  const auto *b = static_cast<const unsigned char *>(right);
  for (std::size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

inline void *memchr(const void *bytes, int value, std::size_t count) {
  const auto *p = static_cast<const unsigned char *>(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    if (p[i] == static_cast<unsigned char>(value)) return const_cast<unsigned char *>(p + i);
  }
  return nullptr;
}

inline std::size_t strlen(const char *text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

inline int strcmp(const char *left, const char *right) {
  const auto *a = reinterpret_cast<const unsigned char *>(left);
  const auto *b = reinterpret_cast<const unsigned char *>(right);
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

inline char *strcat(char *destination, const char *source) {
  char *end = destination + nocrt::strlen(destination);
  while ((*end++ = *source++) != '\0') {
  }
  return destination;
}

}  // namespace nocrt
