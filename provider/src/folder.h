// IMAPIFolder over one folder of a store.
#pragma once

#include <atomic>
#include <memory>

#include "prop_object.h"
#include "session_state.h"

namespace provider {

class FolderObject final : public PropObject<IMAPIFolder> {
 public:
  // repaired: the folder was put right against its message files when it was
  // opened for writing; otherwise that happens before its first posting.
  FolderObject(std::shared_ptr<StoreState> store, StoreFolder folder, bool writable, bool storeWritable,
               bool repaired);

  // IMAPIContainer
  STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) override;
  STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG flags) override;
  STDMETHODIMP GetSearchCriteria(ULONG flags, LPSRestriction* restriction, LPENTRYLIST* containers, ULONG* state) override;
  // IMAPIFolder
  STDMETHODIMP CreateMessage(LPCIID, ULONG flags, LPMESSAGE* message) override;
  STDMETHODIMP CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP DeleteMessages(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iface, ULONG flags, LPMAPIFOLDER* folder) override;
  STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG flags, ULONG* status) override;
  STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG* oldStatus) override;
  STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG flags) override;
  STDMETHODIMP EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG flags) override;

 protected:
  bool Supports(REFIID iid) const override;
  HRESULT CollectProps(std::vector<Value>& out) override;

 private:
  std::shared_ptr<StoreState> store_;
  StoreFolder folder_;
  bool writable_;
  bool storeWritable_;
  std::atomic<bool> repaired_;
};

// Puts a folder right before it is written to (see MessageStore::PrepareForWriting).
HRESULT RepairForWriting(StoreState& store, const StoreFolder& folder);

}  // namespace provider
