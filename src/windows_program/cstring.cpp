// The C names of our memory and string functions, for the Windows program
// only: tq72_platform never links this, so a Windows test program that links
// the platform together with the MinGW C runtime has one memcpy, not two.
//
// Built with -fno-builtin -fno-tree-loop-distribute-patterns: otherwise the
// compiler may recognise the loops in cstring.h and turn memset's own body
// into a call to memset.
#include "windows_program/cstring.h"

#include <string.h>

extern "C" {

void *memcpy(void *destination, const void *source, size_t count) {
  return nocrt::memcpy(destination, source, count);
}
void *memmove(void *destination, const void *source, size_t count) {
  return nocrt::memmove(destination, source, count);
}
void *memset(void *destination, int value, size_t count) {
  return nocrt::memset(destination, value, count);
}
int memcmp(const void *left, const void *right, size_t count) {
  return nocrt::memcmp(left, right, count);
}
void *memchr(const void *bytes, int value, size_t count) {
  return nocrt::memchr(bytes, value, count);
}
size_t strlen(const char *text) { return nocrt::strlen(text); }
int strcmp(const char *left, const char *right) { return nocrt::strcmp(left, right); }
char *strcat(char *destination, const char *source) { return nocrt::strcat(destination, source); }

}  // extern "C"
