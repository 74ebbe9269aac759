// IMailUser for the session's identity: the user that QueryIdentity names.
#pragma once

#include <memory>

#include "prop_object.h"
#include "session_state.h"

namespace provider {

class MailUserObject final : public PropObject<IMailUser> {
 public:
  explicit MailUserObject(std::shared_ptr<SessionState> state);

 protected:
  bool Supports(REFIID iid) const override;
  HRESULT CollectProps(std::vector<Value>& out) override;

 private:
  std::shared_ptr<SessionState> state_;
};

}  // namespace provider
