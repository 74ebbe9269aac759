#include "mail_user.h"

#include <mapitags.h>

namespace provider {

MailUserObject::MailUserObject(std::shared_ptr<SessionState> state) : PropObject("IMailUser"), state_(std::move(state)) {}

bool MailUserObject::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IMailUser) || IsEqualIID(iid, IID_IMAPIProp);
}

HRESULT MailUserObject::CollectProps(std::vector<Value>& out) {
  out.push_back(Value::Binary(PR_ENTRYID, state_->userEntryId));
  out.push_back(Value::Binary(PR_RECORD_KEY, state_->userEntryId));
  out.push_back(Value::Text(PR_DISPLAY_NAME_W, state_->userName));
  out.push_back(Value::Binary(PR_SEARCH_KEY, state_->userSearchKey));
  out.push_back(Value::Text(PR_EMAIL_ADDRESS_W, state_->userAddress));
  out.push_back(Value::Text(PR_ADDRTYPE_W, state_->addressType));
  out.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_MAILUSER));
  out.push_back(Value::Long(PR_DISPLAY_TYPE, DT_MAILUSER));
  return S_OK;
}

}  // namespace provider
