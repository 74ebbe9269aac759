// kvmapi-admin repair: the folders of a store put right against their
// message files, with what was found in each.
#include "admin_lib.h"

#include "folder_lookup.h"

namespace provider {
namespace admin {
namespace {

// Every folder from start down, named as a user writes it: the top of
// information store by the store's name, the root and its other children by
// the store's name with theirs in brackets.
StoreResult CollectFolders(StoreLayout& store, const FolderRecord& start, const std::wstring& path,
                           const std::wstring& storeName, std::vector<std::pair<std::wstring, FolderRecord>>& out) {
  out.emplace_back(path, start);
  std::vector<FolderRecord> children;
  StoreResult result = store.Children(start, children);
  for (size_t i = 0; result == StoreResult::Ok && i < children.size(); ++i) {
    const FolderRecord& child = children[i];
    std::wstring childPath = path + L"#" + child.name;
    if (start.kind == FolderKind::Root)
      childPath = child.kind == FolderKind::IpmSubtree ? storeName : storeName + L" (" + child.name + L")";
    result = CollectFolders(store, child, childPath, storeName, out);
  }
  return result;
}

std::wstring Counted(uint64_t count, const wchar_t* one, const wchar_t* many) {
  return std::to_wstring(count) + L" " + (count == 1 ? one : many);
}

std::wstring Describe(const RepairReport& report) {
  std::vector<std::wstring> parts;
  if (report.rebuilt) {
    std::wstring rebuilt = L"index rebuilt from the message files: " + Counted(report.linesKept, L"line", L"lines") + L" kept";
    if (report.damagedLines) rebuilt += L", " + Counted(report.damagedLines, L"damaged line", L"damaged lines") + L" dropped";
    if (report.duplicateLines) rebuilt += L", " + Counted(report.duplicateLines, L"repeated line", L"repeated lines") + L" dropped";
    if (report.linesWithoutFile)
      rebuilt += L", " + Counted(report.linesWithoutFile, L"line", L"lines") + L" without a message file dropped";
    if (report.filesIndexed) rebuilt += L", " + Counted(report.filesIndexed, L"message file", L"message files") + L" added";
    parts.push_back(rebuilt);
  } else if (report.headerRewritten) {
    parts.push_back(L"index header rewritten to count its " + Counted(report.linesKept, L"line", L"lines"));
  }
  if (report.unreadableFiles)
    parts.push_back(Counted(report.unreadableFiles, L"message file", L"message files") +
                    L" without a line cannot be read and stay as they are");
  if (report.staleFilesRemoved)
    parts.push_back(Counted(report.staleFilesRemoved, L"left-over .tmp file", L"left-over .tmp files") + L" deleted");
  if (report.filesMovedIntoBuckets)
    parts.push_back(Counted(report.filesMovedIntoBuckets, L"message file", L"message files") +
                    L" moved into the bucket directories");
  if (parts.empty()) return L"sound (" + Counted(report.linesKept, L"message", L"messages") + L")";
  std::wstring text;
  for (const std::wstring& part : parts) text += (text.empty() ? L"" : L"; ") + part;
  return text;
}

}  // namespace

bool RepairFolders(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& path,
                   bool allFolders, std::vector<FolderRepair>& repairs, std::wstring& error) {
  repairs.clear();
  std::unique_ptr<StoreLayout> store;
  std::vector<std::pair<std::wstring, FolderRecord>> folders;
  if (allFolders) {
    if (!FindStore(profilesPath, profileName, path, store, error)) return false;
    FolderRecord root;
    const std::wstring storeName = path.substr(0, path.find(L'#'));
    StoreResult result = store->Find(store->rootId(), root);
    if (result == StoreResult::Ok) result = CollectFolders(*store, root, storeName + L" (root)", storeName, folders);
    if (result != StoreResult::Ok) {
      error = L"the folders of store " + storeName + L" cannot be read";
      return false;
    }
  } else {
    FolderRecord folder;
    if (!FindFolder(profilesPath, profileName, path, store, folder, error)) return false;
    folders.emplace_back(path, folder);
  }
  for (const auto& folder : folders) {
    FolderRepair repair;
    repair.path = folder.first;
    repair.result = RepairFolder(folder.second.directory, repair.report);
    // Its row in the parent's listing follows what the repair found (and a
    // folder of a store written before these records gets one).
    if (repair.result == StoreResult::Ok) repair.result = store->RefreshCounts(folder.second);
    repairs.push_back(repair);
  }
  return true;
}

std::wstring FormatRepairs(const std::vector<FolderRepair>& repairs) {
  std::wstring out;
  for (const FolderRepair& repair : repairs) {
    out += repair.path + L": ";
    if (repair.result == StoreResult::Ok)
      out += Describe(repair.report);
    else
      out += repair.result == StoreResult::IoError ? L"cannot be read or written (or its index is locked)"
                                                   : L"cannot be repaired";
    out += L"\n";
  }
  return out;
}

}  // namespace admin
}  // namespace provider
