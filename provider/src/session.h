// IMAPISession of one logon.
#pragma once

#include <memory>

#include "prop_object.h"
#include "session_state.h"

namespace provider {

class SessionObject final : public ComObject<IMAPISession> {
 public:
  explicit SessionObject(std::shared_ptr<SessionState> state);

  STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) override;
  STDMETHODIMP GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, LPMDB* store) override;
  STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG flags, LPADRBOOK* book) override;
  STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG flags, LPPROFSECT* section) override;
  STDMETHODIMP GetStatusTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) override;
  STDMETHODIMP CompareEntryIDs(ULONG size1, LPENTRYID id1, ULONG size2, LPENTRYID id2, ULONG flags, ULONG* result) override;
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) override;
  STDMETHODIMP Unadvise(ULONG) override;
  STDMETHODIMP MessageOptions(ULONG_PTR, ULONG flags, LPTSTR, LPMESSAGE) override;
  STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG flags, ULONG* count, LPSPropValue* options) override;
  STDMETHODIMP EnumAdrTypes(ULONG flags, ULONG* count, LPTSTR** types) override;
  STDMETHODIMP QueryIdentity(ULONG* size, LPENTRYID* id) override;
  STDMETHODIMP Logoff(ULONG_PTR, ULONG flags, ULONG) override;
  STDMETHODIMP SetDefaultStore(ULONG flags, ULONG, LPENTRYID) override;
  STDMETHODIMP AdminServices(ULONG flags, LPSERVICEADMIN* admin) override;
  STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG flags, ULONG, ULONG, ULONG,
                        LPSTR) override;
  STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG* token) override;

 protected:
  bool Supports(REFIID iid) const override { return IsEqualIID(iid, IID_IMAPISession) != 0; }

 private:
  HRESULT NoSupport(const char* method, ULONG flags);
  std::shared_ptr<SessionState> state_;
};

}  // namespace provider
