// One open resource set: the calling module, its satellite name pattern and
// the satellites loaded so far.
#pragma once

#include <windows.h>

#include <kvcommon/unique_resource.h>

#include <map>
#include <memory>
#include <string>

namespace zqlocale {

// The pattern with "%L" replaced by abbreviation, "%X" by "DLL" and "%%" by
// "%"; any other character, also after "%", is kept.
std::wstring ExpandNamePattern(const std::wstring& pattern, const std::wstring& abbreviation);

class ResourceSet {
 public:
  // Where a language's resources come from: the module to search and the
  // language its resources are declared in. module is null when nothing
  // serves the language.
  struct Source {
    HMODULE module = nullptr;
    LANGID language = 0;
  };

  // Null when the module's folder cannot be determined.
  static std::unique_ptr<ResourceSet> Open(HINSTANCE module, const wchar_t* namePattern, bool moduleFallback);

  // Exact satellite, then the primary language's default satellite, then
  // the module's own set (if allowed). Loads and keeps satellites on demand.
  Source SourceFor(LANGID language);

 private:
  ResourceSet() = default;
  HMODULE Satellite(LANGID language);

  HMODULE module_ = nullptr;
  std::wstring folder_;  // with trailing separator
  std::wstring pattern_;
  bool moduleFallback_ = false;
  LANGID moduleLanguage_ = 0;
  // Every language probed so far; an empty owner means no satellite.
  std::map<LANGID, kvcommon::UniqueModule> satellites_;
};

}  // namespace zqlocale
