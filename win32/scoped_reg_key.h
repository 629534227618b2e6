// Uncopyable owner of an open registry key, closed on every way out.
#pragma once

#include <windows.h>

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() { Close(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY Get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }
  // For the open and create calls to fill; the key must not be open yet.
  HKEY* Receive() {
    Close();
    return &key_;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};
