// IMessage and IAttach over a MessageState: the message itself and each of
// its attachments are views of the one state they share.
#pragma once

#include <memory>

#include "message_state.h"
#include "object_base.h"

namespace provider {

// IMAPIProp of the message or of one attachment.
template <typename Interface>
class MessagePart : public ComObject<Interface> {
 public:
  MessagePart(const char* name, std::shared_ptr<MessageState> state, msgfile::ObjectRef object)
      : name_(name), state_(std::move(state)), object_(object) {}

  STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) override;
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override;
  STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* tags) override;
  STDMETHODIMP OpenProperty(ULONG tag, LPCIID iface, ULONG options, ULONG flags, LPUNKNOWN* object) override;
  STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                      LPSPropProblemArray* problems) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                         LPSPropProblemArray* problems) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG flags, ULONG* count, LPMAPINAMEID** names) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG flags, LPSPropTagArray* tags) override;

 protected:
  HRESULT NoSupport(const char* method, ULONG flags) {
    return Guard(name_, method, flags, [] { return MAPI_E_NO_SUPPORT; });
  }

  const char* name_;
  std::shared_ptr<MessageState> state_;
  msgfile::ObjectRef object_;
};

// The window parameter of IMessage::DeleteAttach is a ULONG in some header
// sets and a ULONG_PTR in others; take whatever the interface declares.
template <typename Method>
struct SecondParameter;
template <typename Class, typename Result, typename First, typename Second, typename... Rest>
struct SecondParameter<Result (STDMETHODCALLTYPE Class::*)(First, Second, Rest...)> {
  using type = Second;
};
using DeleteAttachWindow = SecondParameter<decltype(&IMessage::DeleteAttach)>::type;

class MessageObject final : public MessagePart<IMessage> {
 public:
  explicit MessageObject(std::shared_ptr<MessageState> state);

  STDMETHODIMP SaveChanges(ULONG flags) override;
  STDMETHODIMP GetAttachmentTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP OpenAttach(ULONG number, LPCIID iface, ULONG flags, LPATTACH* attachment) override;
  STDMETHODIMP CreateAttach(LPCIID iface, ULONG flags, ULONG* number, LPATTACH* attachment) override;
  STDMETHODIMP DeleteAttach(ULONG number, DeleteAttachWindow, LPMAPIPROGRESS, ULONG flags) override;
  STDMETHODIMP GetRecipientTable(ULONG flags, LPMAPITABLE* table) override;
  STDMETHODIMP ModifyRecipients(ULONG flags, LPADRLIST) override;
  STDMETHODIMP SubmitMessage(ULONG flags) override;
  STDMETHODIMP SetReadFlag(ULONG flags) override;

 protected:
  bool Supports(REFIID iid) const override;
};

class AttachObject final : public MessagePart<IAttach> {
 public:
  // created: made by CreateAttach, so releasing it unsaved drops the attachment.
  AttachObject(std::shared_ptr<MessageState> state, ULONG number, bool created);
  ~AttachObject() override;

  STDMETHODIMP SaveChanges(ULONG flags) override;

 protected:
  bool Supports(REFIID iid) const override;

 private:
  bool created_;
};

// A saved message by its entry identifier, for the OpenEntry methods. Saved
// messages are read-only: MAPI_MODIFY gives MAPI_E_NO_ACCESS.
HRESULT OpenMessage(const std::shared_ptr<StoreState>& store, const ObjectId& folderId, const ObjectId& messageId,
                    LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object);

}  // namespace provider
