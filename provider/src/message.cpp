#include "message.h"

#include <mapitags.h>

#include <algorithm>
#include <cstring>

#include "properties.h"

namespace provider {
namespace {

constexpr const char* kMessageName = "IMessage";
constexpr const char* kAttachName = "IAttach";

// Copies problems into one MAPI buffer, or leaves the slot empty when there are none.
HRESULT ReturnProblems(const std::vector<PropertyProblem>& problems, LPSPropProblemArray* out) {
  if (!out || problems.empty()) return S_OK;
  void* raw = nullptr;
  HRESULT hr = MAPIAllocateBuffer(CbNewSPropProblemArray(problems.size()), &raw);
  if (FAILED(hr)) return hr;
  LPSPropProblemArray array = static_cast<LPSPropProblemArray>(raw);
  array->cProblem = static_cast<ULONG>(problems.size());
  for (size_t i = 0; i < problems.size(); ++i) {
    array->aProblem[i].ulIndex = problems[i].index;
    array->aProblem[i].ulPropTag = problems[i].tag;
    array->aProblem[i].scode = problems[i].code;
  }
  *out = array;
  return S_OK;
}

bool IsAttachInterface(LPCIID iface) {
  return !iface || IsEqualIID(*iface, IID_IAttachment) || IsEqualIID(*iface, IID_IMAPIProp) ||
         IsEqualIID(*iface, IID_IUnknown);
}

const std::vector<ULONG>& AttachmentColumns() {
  static const std::vector<ULONG> columns = {
      PR_ATTACH_NUM,        PR_INSTANCE_KEY,          PR_RECORD_KEY,        PR_RENDERING_POSITION,
      PR_ATTACH_METHOD,     PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_ATTACH_EXTENSION_W,
      PR_DISPLAY_NAME_W,    PR_ATTACH_SIZE,           PR_OBJECT_TYPE};
  return columns;
}

const std::vector<ULONG>& RecipientColumns() {
  static const std::vector<ULONG> columns = {PR_ROWID,     PR_DISPLAY_NAME_W,    PR_RECIPIENT_TYPE,
                                             PR_ENTRYID,   PR_EMAIL_ADDRESS_W,   PR_ADDRTYPE_W};
  return columns;
}

}  // namespace

// ---- IMAPIProp, shared ----

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) {
  if (error) *error = nullptr;
  return Guard(name_, "GetLastError", flags, [&] { return BuildMapiError(result, flags, error); });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) {
  if (count) *count = 0;
  if (values) *values = nullptr;
  return Guard(name_, "GetProps", flags, [&]() -> HRESULT {
    std::vector<Value> all;
    std::vector<ULONG> listed;
    HRESULT hr = state_->View(object_, all, listed);
    if (FAILED(hr)) return hr;
    return GetPropsFrom(all, tags, flags, count, values);
  });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::GetPropList(ULONG flags, LPSPropTagArray* tags) {
  if (tags) *tags = nullptr;
  return Guard(name_, "GetPropList", flags, [&]() -> HRESULT {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
    std::vector<Value> all;
    std::vector<ULONG> listed;
    HRESULT hr = state_->View(object_, all, listed);
    if (FAILED(hr)) return hr;
    for (ULONG& tag : listed) tag = NaturalTag(tag, (flags & MAPI_UNICODE) != 0);
    return AllocateTagArray(listed, tags);
  });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::OpenProperty(ULONG tag, LPCIID iface, ULONG, ULONG flags, LPUNKNOWN* object) {
  if (object) *object = nullptr;
  return Guard(name_, "OpenProperty", flags, [&]() -> HRESULT {
    if (!iface || !object) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS)) return MAPI_E_UNKNOWN_FLAGS;
    if (!IsEqualIID(*iface, IID_IStream) && !IsEqualIID(*iface, IID_ISequentialStream))
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    IStream* stream = nullptr;
    HRESULT hr = state_->OpenPropertyStream(object_, tag, flags, &stream);
    if (FAILED(hr)) return hr;
    *object = stream;
    return S_OK;
  });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
  if (problems) *problems = nullptr;
  return Guard(name_, "SetProps", 0, [&]() -> HRESULT {
    std::vector<PropertyProblem> refused;
    HRESULT hr = state_->SetProps(object_, count, values, refused);
    if (FAILED(hr)) return hr;
    return ReturnProblems(refused, problems);
  });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
  if (problems) *problems = nullptr;
  return Guard(name_, "DeleteProps", 0, [&]() -> HRESULT {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    std::vector<PropertyProblem> refused;
    HRESULT hr = state_->DeleteProps(object_, *tags, refused);
    if (FAILED(hr)) return hr;
    return ReturnProblems(refused, problems);
  });
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID,
                                            ULONG flags, LPSPropProblemArray* problems) {
  if (problems) *problems = nullptr;
  return NoSupport("CopyTo", flags);
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                                               LPSPropProblemArray* problems) {
  if (problems) *problems = nullptr;
  return NoSupport("CopyProps", flags);
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG flags, ULONG* count,
                                                     LPMAPINAMEID** names) {
  if (count) *count = 0;
  if (names) *names = nullptr;
  return NoSupport("GetNamesFromIDs", flags);
}

template <typename Interface>
STDMETHODIMP MessagePart<Interface>::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG flags, LPSPropTagArray* tags) {
  if (tags) *tags = nullptr;
  return NoSupport("GetIDsFromNames", flags);
}

template class MessagePart<IMessage>;
template class MessagePart<IAttach>;

// ---- IMessage ----

MessageObject::MessageObject(std::shared_ptr<MessageState> state)
    : MessagePart(kMessageName, std::move(state), msgfile::ObjectRef::Message()) {}

bool MessageObject::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IMessage) || IsEqualIID(iid, IID_IMAPIProp);
}

STDMETHODIMP MessageObject::SaveChanges(ULONG flags) {
  return Guard(name_, "SaveChanges", flags, [&] { return state_->Save(flags); });
}

STDMETHODIMP MessageObject::GetAttachmentTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(name_, "GetAttachmentTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    std::vector<TableRow> rows;
    HRESULT hr = state_->AttachmentRows(rows);
    if (FAILED(hr)) return hr;
    std::vector<ULONG> all = AttachmentColumns();
    for (const TableRow& row : rows)
      for (const Value& value : row)
        if (std::none_of(all.begin(), all.end(), [&](ULONG t) { return PropId(t) == PropId(value.tag); }))
          all.push_back(value.tag);
    *table = new TableObject(std::move(rows), AttachmentColumns(), all, (flags & MAPI_UNICODE) != 0);
    return S_OK;
  });
}

STDMETHODIMP MessageObject::OpenAttach(ULONG number, LPCIID iface, ULONG flags, LPATTACH* attachment) {
  if (attachment) *attachment = nullptr;
  return Guard(name_, "OpenAttach", flags, [&]() -> HRESULT {
    if (!attachment) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    if (!IsAttachInterface(iface)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    HRESULT hr = state_->FindAttachment(number);
    if (FAILED(hr)) return hr;
    if ((flags & MAPI_MODIFY) && !state_->Writable()) return MAPI_E_NO_ACCESS;
    *attachment = new AttachObject(state_, number, false);
    return S_OK;
  });
}

STDMETHODIMP MessageObject::CreateAttach(LPCIID iface, ULONG flags, ULONG* number, LPATTACH* attachment) {
  if (number) *number = 0;
  if (attachment) *attachment = nullptr;
  return Guard(name_, "CreateAttach", flags, [&]() -> HRESULT {
    if (!attachment || !number) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~MAPI_DEFERRED_ERRORS) return MAPI_E_UNKNOWN_FLAGS;
    if (!IsAttachInterface(iface)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    ULONG created = 0;
    HRESULT hr = state_->CreateAttachment(&created);
    if (FAILED(hr)) return hr;
    // The owner takes the new attachment back should building the object fail.
    try {
      *attachment = new AttachObject(state_, created, true);
    } catch (...) {
      state_->ReleaseAttachment(created);
      throw;
    }
    *number = created;
    return S_OK;
  });
}

STDMETHODIMP MessageObject::DeleteAttach(ULONG number, DeleteAttachWindow, LPMAPIPROGRESS, ULONG flags) {
  return Guard(name_, "DeleteAttach", flags, [&]() -> HRESULT {
    if (flags & ~ATTACH_DIALOG) return MAPI_E_UNKNOWN_FLAGS;
    return state_->DeleteAttachment(number);
  });
}

STDMETHODIMP MessageObject::GetRecipientTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(name_, "GetRecipientTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    // Postings carry no recipients.
    *table = new TableObject(std::vector<TableRow>(), RecipientColumns(), RecipientColumns(), (flags & MAPI_UNICODE) != 0);
    return S_OK;
  });
}

STDMETHODIMP MessageObject::ModifyRecipients(ULONG flags, LPADRLIST) { return NoSupport("ModifyRecipients", flags); }

STDMETHODIMP MessageObject::SubmitMessage(ULONG flags) { return NoSupport("SubmitMessage", flags); }

STDMETHODIMP MessageObject::SetReadFlag(ULONG flags) {
  return Guard(name_, "SetReadFlag", flags, [&] { return state_->SetReadFlag(flags); });
}

// ---- IAttach ----

AttachObject::AttachObject(std::shared_ptr<MessageState> state, ULONG number, bool created)
    : MessagePart(kAttachName, std::move(state), msgfile::ObjectRef::Attachment(number)), created_(created) {}

AttachObject::~AttachObject() {
  if (!created_) return;
  try {
    state_->ReleaseAttachment(object_.number);
  } catch (...) {
    // Only the lock can throw; an unsaved attachment is then dropped at the message's save.
  }
}

bool AttachObject::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IAttachment) || IsEqualIID(iid, IID_IMAPIProp);
}

STDMETHODIMP AttachObject::SaveChanges(ULONG flags) {
  return Guard(name_, "SaveChanges", flags, [&]() -> HRESULT {
    if (flags & ~(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS))
      return MAPI_E_UNKNOWN_FLAGS;
    return state_->SaveAttachment(object_.number);
  });
}

// ---- opening saved messages ----

HRESULT OpenMessage(const std::shared_ptr<StoreState>& store, const ObjectId& folderId, const ObjectId& messageId,
                    LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) {
  if (iface && !IsEqualIID(*iface, IID_IMessage) && !IsEqualIID(*iface, IID_IMAPIProp) &&
      !IsEqualIID(*iface, IID_IUnknown))
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if (flags & MAPI_MODIFY) return MAPI_E_NO_ACCESS;
  StoreFolder folder;
  {
    std::lock_guard<std::mutex> guard(store->lock);
    HRESULT hr = StoreResultToHresult(store->store->Find(folderId, folder));
    if (FAILED(hr)) return hr;
  }
  std::shared_ptr<MessageState> state;
  HRESULT hr = MessageState::Open(store, folder, messageId, state);
  if (FAILED(hr)) return hr;
  *object = static_cast<IMessage*>(new MessageObject(std::move(state)));
  if (type) *type = MAPI_MESSAGE;
  return S_OK;
}

}  // namespace provider
