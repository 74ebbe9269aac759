// The library's five operations and the table of open resource sets.
#include "zqlocale/zqlocale.h"

#include "language.h"
#include "resource_set.h"
#include "string_block.h"

#include <cwchar>
#include <map>
#include <memory>
#include <mutex>

namespace zqlocale {
namespace {

// Open sets by handle. Handles count up from 1 and are never handed out
// twice. One lock for everything: calls are short and rare.
class SetTable {
 public:
  LocaleHandle Add(std::unique_ptr<ResourceSet> set) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (next_ == 0) return 0;  // all 2^32 - 1 handles used up
    LocaleHandle handle = next_;
    sets_.emplace(handle, std::move(set));
    ++next_;
    return handle;
  }

  bool Remove(LocaleHandle handle) {
    std::unique_ptr<ResourceSet> closing;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto found = sets_.find(handle);
      if (found == sets_.end()) return false;
      closing = std::move(found->second);
      sets_.erase(found);
    }
    return true;  // the satellites are freed here, outside the lock
  }

  // Runs use(source) under the lock with what serves language in the set.
  template <typename Use>
  auto WithSource(LocaleHandle handle, DWORD language, Use use) -> decltype(use(ResourceSet::Source())) {
    LANGID concrete = ConcreteLanguage(language);
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = sets_.find(handle);
    if (found == sets_.end()) return use(ResourceSet::Source());
    return use(found->second->SourceFor(concrete));
  }

 private:
  std::mutex mutex_;
  std::map<LocaleHandle, std::unique_ptr<ResourceSet>> sets_;
  LocaleHandle next_ = 1;
};

SetTable& Sets() {
  static SetTable table;
  return table;
}

}  // namespace
}  // namespace zqlocale

using zqlocale::ResourceSet;

// Every export is a boundary: nothing thrown inside leaves it.

extern "C" DWORD WINAPI LocaleGetUserLanguage(void) { return zqlocale::UserLanguage(); }

extern "C" LocaleHandle WINAPI LocaleOpenResources(HINSTANCE module, DWORD, const wchar_t* namePattern,
                                                   DWORD flags) {
  try {
    std::unique_ptr<ResourceSet> set =
        ResourceSet::Open(module, namePattern, (flags & ZQLOCALE_MODULE_FALLBACK) != 0);
    if (!set) return 0;
    return zqlocale::Sets().Add(std::move(set));
  } catch (...) {
    return 0;
  }
}

extern "C" BOOL WINAPI LocaleCloseResources(LocaleHandle handle) {
  try {
    return zqlocale::Sets().Remove(handle) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}

extern "C" HINSTANCE WINAPI LocaleGetResourceModule(LocaleHandle handle, DWORD language) {
  try {
    return zqlocale::Sets().WithSource(handle, language,
                                       [](const ResourceSet::Source& source) { return source.module; });
  } catch (...) {
    return nullptr;
  }
}

extern "C" int WINAPI LocaleLoadString(LocaleHandle handle, DWORD language, UINT id, wchar_t* buffer, int maxChars) {
  if (!buffer || maxChars < 1) return 0;
  try {
    return zqlocale::Sets().WithSource(handle, language, [&](const ResourceSet::Source& source) {
      const wchar_t* text = nullptr;
      size_t length = 0;
      if (!zqlocale::FindResourceString(source.module, source.language, id, &text, &length)) return 0;
      if (length > static_cast<size_t>(maxChars)) length = static_cast<size_t>(maxChars);
      wmemcpy(buffer, text, length);
      buffer[length] = L'\0';
      return static_cast<int>(length);
    });
  } catch (...) {
    return 0;
  }
}
