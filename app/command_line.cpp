// Trimming the command line down to the start-up file.
#include "app/command_line.h"

#include <cstring>

void StartupFileFromCommandLine(const char* line, char* file, size_t capacity) {
  if (capacity == 0) return;
  file[0] = '\0';
  if (!line) return;
  while (*line == ' ' || *line == '\t') ++line;
  size_t length;
  if (*line == '"') {
    ++line;
    const char* close = std::strchr(line, '"');
    length = close ? static_cast<size_t>(close - line) : std::strlen(line);
  } else {
    length = std::strlen(line);
  }
  if (length >= capacity) return;  // longer paths are refused, not cut
  std::memcpy(file, line, length);
  file[length] = '\0';
}
