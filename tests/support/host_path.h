// A build host's path ("/work/…") as a program under Wine sees it: drive Z: is
// the Unix root.
#pragma once

#include <string>

inline std::string WindowsPath(const std::string& unixPath) {
  std::string p = "Z:" + unixPath;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}
