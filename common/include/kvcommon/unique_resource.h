// Move-only owners for Windows resources: one template, one traits type (or
// free function object) per kind of resource, so every path out of a
// function releases what it holds.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace kvcommon {

// Owner of one value. Traits supplies:
//   using value_type = ...;
//   static value_type invalid() noexcept;
//   static void close(value_type) noexcept;
// Releasing never changes the thread's last error, so cleanup on a failure
// path cannot hide the error being reported.
template <typename Traits>
class UniqueResource {
 public:
  using value_type = typename Traits::value_type;

  UniqueResource() noexcept : value_(Traits::invalid()) {}
  explicit UniqueResource(value_type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  value_type get() const noexcept { return value_; }
  value_type operator->() const noexcept { return value_; }  // pointer owners only
  bool valid() const noexcept { return value_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without releasing.
  value_type release() noexcept {
    value_type value = value_;
    value_ = Traits::invalid();
    return value;
  }

  void reset(value_type value = Traits::invalid()) noexcept {
    value_type old = value_;
    value_ = value;
    if (old != Traits::invalid()) {
      DWORD lastError = GetLastError();
      Traits::close(old);
      SetLastError(lastError);
    }
  }

  // Releases the current value and hands out the slot for an out-parameter.
  value_type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  value_type value_;
};

struct KernelHandleTraits {  // CreateFile and friends: INVALID_HANDLE_VALUE
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};
struct NullableHandleTraits {  // events, mutexes, processes: null
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return nullptr; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};
struct ModuleTraits {
  using value_type = HMODULE;
  static HMODULE invalid() noexcept { return nullptr; }
  static void close(HMODULE h) noexcept { FreeLibrary(h); }
};
struct FindHandleTraits {
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { FindClose(h); }
};

using UniqueFile = UniqueResource<KernelHandleTraits>;
using UniqueHandle = UniqueResource<NullableHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;

// Owner of a pointer that Free (a function object) releases: heap blocks,
// MAPI buffers, row sets, interface references.
template <typename T, typename Free>
struct PointerTraits {
  using value_type = T*;
  static T* invalid() noexcept { return nullptr; }
  static void close(T* p) noexcept { Free()(p); }
};
template <typename T, typename Free>
using UniquePointer = UniqueResource<PointerTraits<T, Free>>;

struct InterfaceRelease {
  template <typename Interface>
  void operator()(Interface* p) const noexcept {
    p->Release();
  }
};

// Owner of one COM or MAPI interface reference.
template <typename Interface>
class UniqueInterface : public UniquePointer<Interface, InterfaceRelease> {
 public:
  using UniquePointer<Interface, InterfaceRelease>::UniquePointer;
  // For out-parameters typed as IUnknown** (OpenEntry, OpenProperty).
  IUnknown** putUnknown() noexcept { return reinterpret_cast<IUnknown**>(this->put()); }
};

}  // namespace kvcommon
