// Uncopyable owners for COM: an interface reference released on every way out, and
// a per-thread COM initialisation undone only when it succeeded.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cassert>

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Release(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // For out-parameters: a reference already held would leak if overwritten.
  T** Receive() {
    assert(ptr_ == nullptr);
    return &ptr_;
  }
  void Attach(T* ptr) {
    Release();
    ptr_ = ptr;
  }
  T* Detach() {
    T* ptr = ptr_;
    ptr_ = nullptr;
    return ptr;
  }
  void Release() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};

// CoInitializeEx for the current thread in the constructor; CoUninitialize in the
// destructor only when the initialisation counted (S_FALSE needs the matching call
// too). Must be destroyed on the thread that made it.
class ScopedCoInit {
 public:
  explicit ScopedCoInit(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
  ~ScopedCoInit() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedCoInit(const ScopedCoInit&) = delete;
  ScopedCoInit& operator=(const ScopedCoInit&) = delete;

  bool Succeeded() const { return SUCCEEDED(result_); }
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};
