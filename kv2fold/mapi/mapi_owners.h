// Owners for what MAPI hands out: interface references (Release) and MAPI
// buffers (MAPIFreeBuffer through the bound function table), so every path
// out of a MAPI call releases what it received.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <kvcommon/unique_resource.h>

#include "mapi/mapi_binding.h"

template <typename Interface>
using MAPIInterface = kvcommon::UniqueInterface<Interface>;

// Owner of one MAPIAllocateBuffer block (its MAPIAllocateMore children go
// with it).
template <typename T>
class MAPIBuffer {
 public:
  MAPIBuffer() noexcept = default;
  explicit MAPIBuffer(T* p) noexcept : p_(p) {}
  ~MAPIBuffer() { reset(); }
  MAPIBuffer(const MAPIBuffer&) = delete;
  MAPIBuffer& operator=(const MAPIBuffer&) = delete;
  MAPIBuffer(MAPIBuffer&& other) noexcept : p_(other.release()) {}
  MAPIBuffer& operator=(MAPIBuffer&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(T* p = nullptr) noexcept {
    T* old = p_;
    p_ = p;
    if (old) g_MAPIFunctions.MAPIFreeBuffer(old);
  }
  T** put() noexcept {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

// Owner of a row set from IMAPITable::QueryRows: each row's property array is
// a buffer of its own, then the set itself. Freed a batch at a time.
class MAPIRowSet {
 public:
  MAPIRowSet() noexcept = default;
  ~MAPIRowSet() { reset(); }
  MAPIRowSet(const MAPIRowSet&) = delete;
  MAPIRowSet& operator=(const MAPIRowSet&) = delete;

  SRowSet* get() const noexcept { return rows_; }
  SRowSet* operator->() const noexcept { return rows_; }
  explicit operator bool() const noexcept { return rows_ != nullptr; }
  void reset() noexcept {
    SRowSet* old = rows_;
    rows_ = nullptr;
    if (!old) return;
    for (ULONG i = 0; i < old->cRows; ++i) {
      if (old->aRow[i].lpProps) g_MAPIFunctions.MAPIFreeBuffer(old->aRow[i].lpProps);
    }
    g_MAPIFunctions.MAPIFreeBuffer(old);
  }
  SRowSet** put() noexcept {
    reset();
    return &rows_;
  }

 private:
  SRowSet* rows_ = nullptr;
};
