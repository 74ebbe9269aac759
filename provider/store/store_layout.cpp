#include "store_layout.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "files.h"
#include "folder_counts.h"
#include "folder_index.h"
#include "text.h"

namespace provider {
namespace {

constexpr const wchar_t* kFolderFile = L"\\folder.kvf";
constexpr const wchar_t* kStoreFile = L"\\store.kvs";
constexpr const wchar_t* kStoreLock = L"\\store.lock";
constexpr const wchar_t* kSubfolders = L"\\folders";
constexpr const wchar_t* kSubfolderList = L"\\subfolders.kvl";
constexpr const char* kSubfolderListHeader = "Format=1";
constexpr size_t kMaxDirectoryName = 80;

// Names of the special folders as the store creates them; they are data, like
// any display name a user gives, not interface text.
constexpr const wchar_t* kRootName = L"Root";
constexpr const wchar_t* kIpmSubtreeName = L"Top of Information Store";
constexpr const wchar_t* kCommonViewsName = L"Common Views";

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

bool ParseKeyValues(const std::string& bytes, std::map<std::string, std::string>& out) {
  for (const std::string& line : SplitLines(bytes)) {
    if (line.empty()) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    out[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return true;
}

const char* KindText(FolderKind kind) {
  switch (kind) {
    case FolderKind::Root: return "root";
    case FolderKind::IpmSubtree: return "ipm-subtree";
    case FolderKind::CommonViews: return "common-views";
    default: return "folder";
  }
}

bool ParseKind(const std::string& text, FolderKind& kind) {
  if (text == "root") kind = FolderKind::Root;
  else if (text == "ipm-subtree") kind = FolderKind::IpmSubtree;
  else if (text == "common-views") kind = FolderKind::CommonViews;
  else if (text == "folder") kind = FolderKind::Generic;
  else return false;
  return true;
}

bool WriteFolderFile(const FolderRecord& folder) {
  std::string text = "Id=" + ObjectIdText(folder.id) + "\r\nParent=" + ObjectIdText(folder.parentId) + "\r\nKind=" +
                     KindText(folder.kind) + "\r\nName=" + EscapeLine(folder.name) + "\r\nComment=" +
                     EscapeLine(folder.comment) + "\r\n";
  return WriteFileAtomically(folder.directory + kFolderFile, text);
}

// Folders by display name, ignoring case first.
bool NameOrder(const FolderRecord& a, const FolderRecord& b) {
  int order = CompareIgnoreCase(a.name, b.name);
  return order != 0 ? order < 0 : a.name < b.name;
}

// One line per subfolder: id, kind, directory name, display name, comment,
// separated by tabs (escaped inside the fields).
bool WriteSubfolderList(const FolderRecord& parent, std::vector<FolderRecord> children) {
  // In the order Children gives them, so that reading needs no sorting.
  std::sort(children.begin(), children.end(), NameOrder);
  std::string text = std::string(kSubfolderListHeader) + "\r\n";
  for (const FolderRecord& child : children) {
    const std::wstring directoryName = child.directory.substr(child.directory.find_last_of(L'\\') + 1);
    text += ObjectIdText(child.id) + "\t" + KindText(child.kind) + "\t" + EscapeLine(directoryName) + "\t" +
            EscapeLine(child.name) + "\t" + EscapeLine(child.comment) + "\r\n";
  }
  return WriteFileAtomically(parent.directory + kSubfolderList, text);
}

bool IsDeviceName(const std::wstring& name) {
  std::wstring base = UpperCase(name.substr(0, name.find(L'.')));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  static const wchar_t* const fixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : fixed)
    if (base == device) return true;
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) && base[3] >= L'0' &&
      base[3] <= L'9')
    return true;
  return false;
}

std::wstring Escape(unsigned value, int digits) {
  wchar_t buffer[8];
  swprintf(buffer, 8, digits == 2 ? L"%%%02X" : L"%%u%04X", value);
  return buffer;
}

}  // namespace

std::wstring SafeDirectoryName(const std::wstring& displayName) {
  // Pieces, so that cutting to length never splits an escape or a surrogate pair.
  std::vector<std::wstring> pieces;
  for (size_t i = 0; i < displayName.size(); ++i) {
    wchar_t c = displayName[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < displayName.size() && displayName[i + 1] >= 0xDC00 && displayName[i + 1] <= 0xDFFF) {
      pieces.push_back(displayName.substr(i, 2));
      ++i;
    } else if (high || low) {
      pieces.push_back(Escape(c, 4));
    } else if (c < 0x20 || c == 0x7F || wcschr(L"<>:\"/\\|?*%", c)) {
      pieces.push_back(Escape(c, 2));
    } else {
      pieces.push_back(std::wstring(1, c));
    }
  }
  if (!pieces.empty() && (pieces.front() == L"." || pieces.front() == L" ")) pieces.front() = Escape(pieces.front()[0], 2);
  if (!pieces.empty() && (pieces.back() == L"." || pieces.back() == L" ")) pieces.back() = Escape(pieces.back()[0], 2);
  if (IsDeviceName(displayName) && !pieces.empty()) pieces.front() = Escape(pieces.front()[0], 2);
  std::wstring out;
  bool cut = false;
  for (const std::wstring& piece : pieces) {
    if (out.size() + piece.size() > kMaxDirectoryName) {
      cut = true;
      break;
    }
    out += piece;
  }
  if (cut) {
    while (!out.empty() && (out.back() == L'.' || out.back() == L' ')) out.pop_back();
    out += L"~";
  }
  if (out.empty()) out = L"%";
  return out;
}

namespace {

std::wstring WithoutTrailingSeparators(std::wstring directory) {
  while (!directory.empty() && (directory.back() == L'\\' || directory.back() == L'/')) directory.pop_back();
  return directory;
}

// Only an empty directory (or one a crashed creation left) becomes a store.
bool HoldsOnlyStoreFiles(const std::wstring& directory) {
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (!find) return true;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L".." && name != L"store.lock" && name != L"folder.kvf" && name != L"folders" &&
        name != L"subfolders.kvl" && name != L"subfolders.kvc" && name.compare(0, 10, L"store.kvs.") != 0 &&
        name.compare(0, 11, L"folder.kvf.") != 0 && name.compare(0, 15, L"subfolders.kvl.") != 0)
      return false;
  } while (FindNextFileW(find.get(), &data));
  return true;
}

}  // namespace

StoreResult StoreLayout::CreateLocked() {
  if (!HoldsOnlyStoreFiles(directory_)) return StoreResult::Corrupt;
  FolderRecord root;
  root.id = NewObjectId();
  root.kind = FolderKind::Root;
  root.name = kRootName;
  root.directory = directory_;
  if (!CreateDirectoryTree(root.directory + kSubfolders) || !WriteFolderFile(root)) return StoreResult::IoError;
  FolderRecord ipm, views;
  StoreResult result = CreateFolderLocked(root, kIpmSubtreeName, L"", true, ipm);
  if (result == StoreResult::Ok) result = CreateFolderLocked(root, kCommonViewsName, L"", true, views);
  if (result != StoreResult::Ok) return result;
  ipm.kind = FolderKind::IpmSubtree;
  views.kind = FolderKind::CommonViews;
  if (!WriteFolderFile(ipm) || !WriteFolderFile(views) || !WriteSubfolderList(root, {ipm, views}))
    return StoreResult::IoError;
  // The store file last: until it exists, the directory is not a store.
  std::string text = "Format=1\r\nId=" + ObjectIdText(NewObjectId()) + "\r\nRoot=" + ObjectIdText(root.id) +
                     "\r\nIpmSubtree=" + ObjectIdText(ipm.id) + "\r\nCommonViews=" + ObjectIdText(views.id) + "\r\n";
  return WriteFileAtomically(directory_ + kStoreFile, text) ? StoreResult::Ok : StoreResult::IoError;
}

StoreResult StoreLayout::OpenOrCreate(const std::wstring& directory, std::unique_ptr<StoreLayout>& out) {
  out.reset();
  std::unique_ptr<StoreLayout> store(new StoreLayout());
  store->directory_ = WithoutTrailingSeparators(directory);
  if (store->directory_.empty()) return StoreResult::NotFound;
  if (!FileExists(store->directory_ + kStoreFile)) {
    if (!CreateDirectoryTree(store->directory_)) return StoreResult::IoError;
    FileLock lock(store->directory_ + kStoreLock, 30000);
    if (!lock.held()) return StoreResult::IoError;
    if (!FileExists(store->directory_ + kStoreFile)) {
      StoreResult created = store->CreateLocked();
      if (created != StoreResult::Ok) return created;
    }
  }
  StoreResult result = store->Load();
  if (result == StoreResult::Ok) out = std::move(store);
  return result;
}

StoreResult StoreLayout::Open(const std::wstring& directory, std::unique_ptr<StoreLayout>& out) {
  out.reset();
  std::unique_ptr<StoreLayout> store(new StoreLayout());
  store->directory_ = WithoutTrailingSeparators(directory);
  if (store->directory_.empty()) return StoreResult::NotFound;
  StoreResult result = store->Load();
  if (result == StoreResult::Ok) out = std::move(store);
  return result;
}

StoreResult StoreLayout::Load() {
  std::string bytes;
  FileRead read = ReadWholeFile(directory_ + kStoreFile, bytes);
  if (read == FileRead::Missing) return StoreResult::NotFound;
  if (read != FileRead::Ok) return StoreResult::IoError;
  std::map<std::string, std::string> values;
  if (!ParseKeyValues(bytes, values) || values["Format"] != "1" || !ParseObjectId(values["Id"], storeId_) ||
      !ParseObjectId(values["Root"], rootId_) || !ParseObjectId(values["IpmSubtree"], ipmSubtreeId_) ||
      !ParseObjectId(values["CommonViews"], commonViewsId_))
    return StoreResult::Corrupt;
  knownDirectories_[rootId_] = directory_;
  // The root's children are known from the start, so that opening the top of
  // information store does not walk the whole tree.
  FolderRecord root;
  root.id = rootId_;
  root.directory = directory_;
  std::vector<FolderRecord> children;
  Children(root, children);
  return StoreResult::Ok;
}

StoreResult StoreLayout::ReadFolder(const std::wstring& directory, FolderRecord& out) {
  std::string bytes;
  FileRead read = ReadWholeFile(directory + kFolderFile, bytes);
  if (read == FileRead::Missing) return StoreResult::NotFound;
  if (read != FileRead::Ok) return StoreResult::IoError;
  std::map<std::string, std::string> values;
  FolderRecord folder;
  if (!ParseKeyValues(bytes, values) || !ParseObjectId(values["Id"], folder.id) || !ParseObjectId(values["Parent"], folder.parentId) ||
      !ParseKind(values["Kind"], folder.kind) || !UnescapeLine(values["Name"], folder.name) ||
      !UnescapeLine(values["Comment"], folder.comment))
    return StoreResult::Corrupt;
  folder.directory = directory;
  out = std::move(folder);
  return StoreResult::Ok;
}

namespace {

// One line of a subfolder list: id, kind, directory name, display name,
// comment. The child's directory and parent come from parent.
bool ParseListLine(const char* line, size_t length, const ObjectId& parentId, const std::wstring& subfolders,
                   FolderRecord& child) {
  const char* fields[5];
  size_t lengths[5];
  size_t count = 0;
  for (size_t at = 0;;) {
    if (count == 5) return false;  // a sixth field
    const char* tab = static_cast<const char*>(memchr(line + at, '\t', length - at));
    size_t fieldEnd = tab ? static_cast<size_t>(tab - line) : length;
    fields[count] = line + at;
    lengths[count++] = fieldEnd - at;
    if (!tab) break;
    at = fieldEnd + 1;
  }
  std::wstring directoryName;
  if (count != 5 || !ParseObjectId(fields[0], lengths[0], child.id) ||
      !ParseKind(std::string(fields[1], lengths[1]), child.kind) ||
      !UnescapeLine(fields[2], lengths[2], directoryName) || directoryName.empty() ||
      directoryName.find_first_of(L"\\/") != std::wstring::npos || directoryName == L"." || directoryName == L".." ||
      !UnescapeLine(fields[3], lengths[3], child.name) || !UnescapeLine(fields[4], lengths[4], child.comment))
    return false;
  child.parentId = parentId;
  child.directory = subfolders + directoryName;
  return true;
}

}  // namespace

StoreResult StoreLayout::ReadSubfolderList(const FolderRecord& parent, std::vector<FolderRecord>& out) {
  std::string bytes;
  FileRead read = ReadWholeFile(parent.directory + kSubfolderList, bytes);
  if (read == FileRead::Missing) return StoreResult::NotFound;
  if (read != FileRead::Ok) return StoreResult::IoError;
  const std::wstring subfolders = parent.directory + kSubfolders + L"\\";
  out.reserve(bytes.size() / 48);  // about the length of a line
  bool header = true;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    size_t lineEnd = end > start && bytes[end - 1] == '\r' ? end - 1 : end;
    const char* line = bytes.data() + start;
    const size_t length = lineEnd - start;
    start = end + 1;
    if (header) {
      if (std::string(line, length) != kSubfolderListHeader) return StoreResult::Corrupt;
      header = false;
      continue;
    }
    if (length == 0) continue;
    FolderRecord child;
    if (!ParseListLine(line, length, parent.id, subfolders, child)) return StoreResult::Corrupt;
    out.push_back(std::move(child));
  }
  if (header) return StoreResult::Corrupt;
  constexpr size_t kRecentLists = 4;
  if (recentLists_.size() == kRecentLists) recentLists_.erase(recentLists_.begin());
  recentLists_.push_back(RecentList{parent.id, parent.directory, std::move(bytes)});
  return StoreResult::Ok;
}

StoreResult StoreLayout::FindInRecentLists(const ObjectId& id, FolderRecord& out) {
  const std::string key = "\n" + ObjectIdText(id) + "\t";
  for (auto list = recentLists_.rbegin(); list != recentLists_.rend(); ++list) {
    size_t at = list->bytes.find(key);
    if (at == std::string::npos) continue;
    const size_t start = at + 1;
    size_t end = list->bytes.find('\n', start);
    if (end == std::string::npos) end = list->bytes.size();
    if (end > start && list->bytes[end - 1] == '\r') --end;
    FolderRecord listed, folder;
    if (!ParseListLine(list->bytes.data() + start, end - start, list->parentId,
                       list->parentDirectory + kSubfolders + L"\\", listed))
      return StoreResult::NotFound;
    StoreResult read = ReadFolder(listed.directory, folder);
    if (read == StoreResult::Corrupt) return read;  // a damaged folder file spoils its folder
    if (read != StoreResult::Ok || folder.id != id) return StoreResult::NotFound;
    knownDirectories_[id] = folder.directory;
    out = std::move(folder);
    return StoreResult::Ok;
  }
  return StoreResult::NotFound;
}

StoreResult StoreLayout::Children(const FolderRecord& parent, std::vector<FolderRecord>& out) {
  out.clear();
  StoreResult listed = ReadSubfolderList(parent, out);
  if (listed != StoreResult::NotFound) {
    if (listed != StoreResult::Ok) {
      out.clear();
      return listed;
    }
    if (!std::is_sorted(out.begin(), out.end(), NameOrder)) std::sort(out.begin(), out.end(), NameOrder);
    return StoreResult::Ok;
  }
  // A folder made before subfolder lists existed: its subfolders' own files.
  std::vector<std::wstring> names;
  if (!ListDirectories(parent.directory + kSubfolders, names)) return StoreResult::IoError;
  for (const std::wstring& name : names) {
    FolderRecord child;
    StoreResult result = ReadFolder(parent.directory + kSubfolders + L"\\" + name, child);
    if (result == StoreResult::NotFound) continue;  // being created by another process
    if (result != StoreResult::Ok) return result;
    knownDirectories_[child.id] = child.directory;
    out.push_back(std::move(child));
  }
  std::sort(out.begin(), out.end(), [](const FolderRecord& a, const FolderRecord& b) {
    int order = CompareIgnoreCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  return StoreResult::Ok;
}

// Walks the whole tree to learn where each folder lives. A damaged folder is
// passed over here, so that it spoils only its own branch: listing its
// parent's hierarchy still reports it.
StoreResult StoreLayout::Scan() {
  FolderRecord root;
  StoreResult result = ReadFolder(directory_, root);
  if (result != StoreResult::Ok) return result == StoreResult::NotFound ? StoreResult::Corrupt : result;
  knownDirectories_[root.id] = root.directory;
  std::vector<std::wstring> pending{root.directory};
  while (!pending.empty()) {
    std::wstring directory = std::move(pending.back());
    pending.pop_back();
    std::vector<std::wstring> names;
    if (!ListDirectories(directory + kSubfolders, names)) return StoreResult::IoError;
    for (const std::wstring& name : names) {
      FolderRecord child;
      std::wstring childDirectory = directory + kSubfolders + L"\\" + name;
      if (ReadFolder(childDirectory, child) != StoreResult::Ok) continue;
      knownDirectories_[child.id] = childDirectory;
      pending.push_back(childDirectory);
    }
  }
  return StoreResult::Ok;
}

StoreResult StoreLayout::Find(const ObjectId& id, FolderRecord& out) {
  auto known = knownDirectories_.find(id);
  if (known != knownDirectories_.end()) {
    FolderRecord folder;
    StoreResult read = ReadFolder(known->second, folder);
    if (read == StoreResult::Ok && folder.id == id) {
      out = std::move(folder);
      return StoreResult::Ok;
    }
    // A damaged folder file spoils its folder; a folder that is gone or not
    // the one asked for is looked for again.
    if (read == StoreResult::Corrupt) return read;
    knownDirectories_.erase(known);
  }
  StoreResult listed = FindInRecentLists(id, out);
  if (listed != StoreResult::NotFound) return listed;
  StoreResult result = Scan();
  if (result != StoreResult::Ok) return result;
  known = knownDirectories_.find(id);
  if (known == knownDirectories_.end()) return StoreResult::NotFound;
  return ReadFolder(known->second, out);
}

StoreResult StoreLayout::CreateFolder(const FolderRecord& parent, const std::wstring& name, const std::wstring& comment,
                                      bool openIfExists, FolderRecord& out) {
  if (name.empty()) return StoreResult::InvalidName;
  FileLock lock(directory_ + kStoreLock, 30000);
  if (!lock.held()) return StoreResult::IoError;
  return CreateFolderLocked(parent, name, comment, openIfExists, out);
}

StoreResult StoreLayout::CreateFolderLocked(const FolderRecord& parent, const std::wstring& name,
                                            const std::wstring& comment, bool openIfExists, FolderRecord& out) {
  std::vector<FolderRecord> siblings;
  StoreResult result = Children(parent, siblings);
  if (result != StoreResult::Ok) return result;
  for (FolderRecord& sibling : siblings) {
    if (sibling.name != name) continue;
    if (!openIfExists) return StoreResult::Collision;
    out = std::move(sibling);
    return StoreResult::Ok;
  }
  std::wstring base = SafeDirectoryName(name);
  std::wstring subfolders = parent.directory + kSubfolders;
  if (!CreateDirectoryTree(subfolders)) return StoreResult::IoError;
  FolderRecord folder;
  folder.id = NewObjectId();
  folder.parentId = parent.id;
  folder.kind = FolderKind::Generic;
  folder.name = name;
  folder.comment = comment;
  for (int suffix = 1; suffix < 1000 && folder.directory.empty(); ++suffix) {
    std::wstring candidate = subfolders + L"\\" + base + (suffix == 1 ? L"" : L"~" + std::to_wstring(suffix));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      folder.directory = candidate;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      return StoreResult::IoError;
    }
  }
  if (folder.directory.empty()) return StoreResult::IoError;
  siblings.push_back(folder);
  // The parent marked as having subfolders before its list names one, so
  // that no row ever hides a subfolder that exists.
  if (!CreateDirectoryTree(folder.directory + kSubfolders) || !WriteFolderFile(folder) ||
      !AppendCountsRecords(parent.directory, {folder.id}) ||
      !MarkHasSubfolders(ParentFolderDirectory(parent.directory), parent.id) ||
      !WriteSubfolderList(parent, siblings)) {
    // A folder that its parent's list does not name is not made at all.
    DeleteFileW((folder.directory + kFolderFile).c_str());
    RemoveDirectoryW((folder.directory + kSubfolders).c_str());
    RemoveDirectoryW(folder.directory.c_str());
    return StoreResult::IoError;
  }
  knownDirectories_[folder.id] = folder.directory;
  out = std::move(folder);
  return StoreResult::Ok;
}

StoreResult StoreLayout::CreateFolders(const FolderRecord& parent, const std::vector<std::wstring>& names,
                                       std::vector<FolderRecord>& out) {
  out.clear();
  FileLock lock(directory_ + kStoreLock, 30000);
  if (!lock.held()) return StoreResult::IoError;
  std::vector<FolderRecord> siblings;
  StoreResult result = Children(parent, siblings);
  if (result != StoreResult::Ok) return result;
  std::set<std::wstring> taken;
  for (const FolderRecord& sibling : siblings) taken.insert(sibling.name);
  for (const std::wstring& name : names) {
    if (name.empty()) return StoreResult::InvalidName;
    if (!taken.insert(name).second) return StoreResult::Collision;
  }
  const std::wstring subfolders = parent.directory + kSubfolders;
  if (!CreateDirectoryTree(subfolders)) return StoreResult::IoError;
  auto undo = [&out] {
    for (const FolderRecord& made : out) {
      DeleteFileW((made.directory + kFolderFile).c_str());
      RemoveDirectoryW((made.directory + kSubfolders).c_str());
      RemoveDirectoryW(made.directory.c_str());
    }
    out.clear();
  };
  for (const std::wstring& name : names) {
    FolderRecord folder;
    folder.id = NewObjectId();
    folder.parentId = parent.id;
    folder.kind = FolderKind::Generic;
    folder.name = name;
    const std::wstring base = subfolders + L"\\" + SafeDirectoryName(name);
    for (int suffix = 1; suffix < 1000 && folder.directory.empty(); ++suffix) {
      std::wstring candidate = base + (suffix == 1 ? L"" : L"~" + std::to_wstring(suffix));
      if (CreateDirectoryW(candidate.c_str(), nullptr)) folder.directory = candidate;
    }
    if (folder.directory.empty() || !CreateDirectoryTree(folder.directory + kSubfolders) || !WriteFolderFile(folder)) {
      if (!folder.directory.empty()) out.push_back(folder);
      undo();
      return StoreResult::IoError;
    }
    out.push_back(folder);
  }
  std::vector<ObjectId> ids;
  for (const FolderRecord& made : out) ids.push_back(made.id);
  siblings.insert(siblings.end(), out.begin(), out.end());
  if (!AppendCountsRecords(parent.directory, ids) ||
      !MarkHasSubfolders(ParentFolderDirectory(parent.directory), parent.id) || !WriteSubfolderList(parent, siblings)) {
    undo();
    return StoreResult::IoError;
  }
  for (const FolderRecord& made : out) knownDirectories_[made.id] = made.directory;
  return StoreResult::Ok;
}

StoreResult StoreLayout::RefreshCounts(const FolderRecord& folder) {
  const std::wstring parent = ParentFolderDirectory(folder.directory);
  if (folder.kind == FolderKind::Root || parent.empty()) return StoreResult::Ok;
  FileLock storeLock(directory_ + kStoreLock, 30000);
  if (!storeLock.held()) return StoreResult::IoError;
  std::vector<FolderRecord> children;
  StoreResult result = Children(folder, children);
  if (result != StoreResult::Ok) return result;
  FileLock indexLock(IndexLockPath(folder.directory), 30000);
  if (!indexLock.held()) return StoreResult::IoError;
  FolderCountsRecord record;
  record.hasSubfolders = !children.empty();
  result = ReadIndexCounts(folder.directory, record.counts);
  if (result != StoreResult::Ok) return result;
  return PutCountsRecord(parent, folder.id, record) ? StoreResult::Ok : StoreResult::IoError;
}

StoreResult StoreLayout::FindByPath(const std::wstring& path, FolderRecord& out) {
  FolderRecord current;
  StoreResult result = Find(ipmSubtreeId_, current);
  if (result != StoreResult::Ok) return result;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find(L'#', pos);
    if (end == std::wstring::npos) end = path.size();
    std::wstring name = path.substr(pos, end - pos);
    pos = end + 1;
    std::vector<FolderRecord> children;
    result = Children(current, children);
    if (result != StoreResult::Ok) return result;
    auto match = std::find_if(children.begin(), children.end(), [&](const FolderRecord& c) { return c.name == name; });
    if (match == children.end()) return StoreResult::NotFound;
    current = std::move(*match);
  }
  out = std::move(current);
  return StoreResult::Ok;
}

}  // namespace provider
