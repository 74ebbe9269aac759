// IMsgStore over one store of the session.
#pragma once

#include <memory>

#include "prop_object.h"
#include "session_state.h"

namespace provider {

class StoreObject final : public PropObject<IMsgStore> {
 public:
  StoreObject(std::shared_ptr<StoreState> store, bool writable);

  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) override;
  STDMETHODIMP Unadvise(ULONG) override;
  STDMETHODIMP CompareEntryIDs(ULONG size1, LPENTRYID id1, ULONG size2, LPENTRYID id2, ULONG flags, ULONG* result) override;
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) override;
  STDMETHODIMP SetReceiveFolder(LPTSTR, ULONG flags, ULONG, LPENTRYID) override;
  STDMETHODIMP GetReceiveFolder(LPTSTR, ULONG flags, ULONG* size, LPENTRYID* id, LPTSTR* explicitClass) override;
  STDMETHODIMP GetReceiveFolderTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP StoreLogoff(ULONG* flags) override;
  STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG flags) override;
  STDMETHODIMP GetOutgoingQueue(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override;
  STDMETHODIMP FinishedMsg(ULONG flags, ULONG, LPENTRYID) override;
  STDMETHODIMP NotifyNewMail(LPNOTIFICATION) override;

 protected:
  bool Supports(REFIID iid) const override;
  HRESULT CollectProps(std::vector<Value>& out) override;

 private:
  std::shared_ptr<StoreState> store_;
  bool writable_;
};

// Opens a folder of a store for the OpenEntry methods. Access: MAPI_MODIFY
// needs a writable store and folder (else MAPI_E_NO_ACCESS); MAPI_BEST_ACCESS
// gives write access where it is allowed; otherwise read-only.
HRESULT OpenFolder(const std::shared_ptr<StoreState>& store, bool storeWritable, const ObjectId& folderId, LPCIID iface,
                   ULONG flags, ULONG* type, LPUNKNOWN* object);
// Entry identifiers a store opens: the store's own folders (an empty one is the root folder).
HRESULT OpenStoreEntry(const std::shared_ptr<StoreState>& store, bool storeWritable, ULONG size, LPENTRYID id,
                       LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object);

}  // namespace provider
