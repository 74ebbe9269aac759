#include "resource_set.h"

#include "language.h"
#include "string_block.h"

#include <vector>

namespace zqlocale {

std::wstring ExpandNamePattern(const std::wstring& pattern, const std::wstring& abbreviation) {
  std::wstring name;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != L'%' || i + 1 == pattern.size()) {
      name += pattern[i];
      continue;
    }
    wchar_t code = pattern[i + 1];
    if (code == L'L') {
      name += abbreviation;
    } else if (code == L'X') {
      name += L"DLL";
    } else if (code == L'%') {
      name += L'%';
    } else {
      name += L'%';
      name += code;
    }
    ++i;
  }
  return name;
}

namespace {

// The folder of a loaded module's file, with its trailing separator.
bool ModuleFolder(HMODULE module, std::wstring* folder) {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return false;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t end = path.size();
  while (end > 0 && path[end - 1] != L'\\' && path[end - 1] != L'/') --end;
  folder->assign(path.data(), end);
  return true;
}

}  // namespace

std::unique_ptr<ResourceSet> ResourceSet::Open(HINSTANCE module, const wchar_t* namePattern, bool moduleFallback) {
  if (!module || !namePattern || !*namePattern) return nullptr;
  std::unique_ptr<ResourceSet> set(new ResourceSet);
  if (!ModuleFolder(module, &set->folder_)) return nullptr;
  set->module_ = module;
  set->pattern_ = namePattern;
  set->moduleFallback_ = moduleFallback;
  if (moduleFallback) set->moduleLanguage_ = StringTableLanguage(module);
  return set;
}

HMODULE ResourceSet::Satellite(LANGID language) {
  auto known = satellites_.find(language);
  if (known != satellites_.end()) return known->second.get();
  kvcommon::UniqueModule satellite;
  std::wstring abbreviation = LanguageAbbreviation(language);
  if (!abbreviation.empty()) {
    std::wstring path = folder_ + ExpandNamePattern(pattern_, abbreviation);
    // Resources only: no code of the satellite runs, and it may be a
    // resource-only file without an entry point.
    satellite.reset(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  }
  HMODULE handle = satellite.get();
  satellites_.emplace(language, std::move(satellite));
  return handle;
}

ResourceSet::Source ResourceSet::SourceFor(LANGID language) {
  Source source;
  LANGID candidates[2] = {language, MAKELANGID(PRIMARYLANGID(language), SUBLANG_DEFAULT)};
  int count = candidates[1] == candidates[0] ? 1 : 2;
  for (int i = 0; i < count; ++i) {
    if (HMODULE satellite = Satellite(candidates[i])) {
      source.module = satellite;
      source.language = candidates[i];
      return source;
    }
  }
  if (moduleFallback_ && moduleLanguage_ != 0) {
    source.module = module_;
    source.language = moduleLanguage_;
  }
  return source;
}

}  // namespace zqlocale
