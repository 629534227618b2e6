// The file kind by extension and the parts of a file's name.
#include "sources/file_kind.h"

#include <cctype>
#include <cstring>

#include "sources/source_stream.h"

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (Lower(*a) != Lower(*b)) return false;
  }
  return *a == *b;
}

void CopyCut(char* to, const char* from, size_t length, size_t capacity) {
  if (capacity == 0) return;
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

FileKind FileKindOfExtension(const char* extension) {
  if (EqualNoCase(extension, ".rx2") || EqualNoCase(extension, ".rex")) return FileKind::Rex;
  if (std::strlen(extension) >= 4 && extension[0] == '.' && Lower(extension[1]) == 'm' &&
      (Lower(extension[2]) == 'p' || Lower(extension[3]) == 'a')) {
    return FileKind::Converted;
  }
  return IsConvertedExtension(extension) ? FileKind::Converted : FileKind::Wave;
}

void SplitFileName(const char* path, char* name, char* extension, size_t capacity) {
  const char* start = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') start = p + 1;
  }
  const char* dot = std::strrchr(start, '.');
  const char* end = dot ? dot : start + std::strlen(start);
  CopyCut(name, start, static_cast<size_t>(end - start), capacity);
  CopyCut(extension, end, std::strlen(end), capacity);
}
