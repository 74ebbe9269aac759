#include "server_store.h"

#include <algorithm>
#include <unordered_map>

#include <kvimap/mailbox_name.h>

#include "object_id.h"
#include "protected_text.h"
#include "server_connection.h"
#include "server_draft.h"
#include "server_messages.h"
#include "text.h"

namespace provider {
namespace {

// As a store on disk names it.
const wchar_t kTopName[] = L"Top of Information Store";

bool IsHidden(const std::wstring& name) { return name == kAssociatedFolderName || name == kCommonViewsFolderName; }

// The last part of a full mailbox name.
std::wstring LastPart(const std::wstring& mailbox, wchar_t separator) {
  const size_t cut = separator ? mailbox.rfind(separator) : std::wstring::npos;
  return cut == std::wstring::npos ? mailbox : mailbox.substr(cut + 1);
}

// What one LIST told about a folder and the folders just below it.
struct Listing {
  const kvimap::MailboxInfo* self = nullptr;
  const kvimap::MailboxInfo* associated = nullptr;
  bool hasSubfolders = false;
};

class ServerStore final : public MessageStore {
 public:
  ServerStore(const ServerConfig& config, const ServerLogon& logon, std::wstring password)
      : connection_(std::make_shared<ServerConnection>(config, std::move(password))), logon_(logon) {
    std::string key = "imap\n" + ToUtf8(UpperCase(config.host)) + "\n" + std::to_string(config.EffectivePort()) +
                      "\n" + ToUtf8(config.user) + "\n" + ToUtf8(config.root);
    storeId_ = DeriveKey(std::vector<uint8_t>(key.begin(), key.end()));
    rootId_ = FolderKey(L"\n");
  }

  const ObjectId& storeId() const override { return storeId_; }
  const ObjectId& rootId() const override { return rootId_; }
  const ObjectId& ipmSubtreeId() const override { return ipmId_; }
  const ObjectId& commonViewsId() const override { return viewsId_; }

  StoreResult Reconnect() override {
    StoreResult result = connection_->Reconnect();
    if (result == StoreResult::Ok && !discovered_) result = Discover();
    return result;
  }

  StoreResult Find(const ObjectId& id, StoreFolder& out) override {
    auto found = folders_.find(id);
    if (found == folders_.end()) {
      // A folder of an earlier session: learn the whole tree once.
      StoreResult result = LearnTree();
      if (result != StoreResult::Ok) return result;
      found = folders_.find(id);
      if (found == folders_.end()) return StoreResult::NotFound;
    }
    out = found->second;
    return StoreResult::Ok;
  }

  StoreResult Children(const StoreFolder& parent, std::vector<StoreFolder>& out) override {
    out.clear();
    if (parent.kind == FolderKind::Root) {
      for (const ObjectId& id : {ipmId_, viewsId_}) out.push_back(folders_.at(id));
      return StoreResult::Ok;
    }
    if (parent.kind == FolderKind::CommonViews) return StoreResult::Ok;
    const std::wstring prefix = Prefix(parent);
    std::vector<kvimap::MailboxInfo> boxes;
    StoreResult result = List({prefix + L"%", prefix + L"%" + Separator() + L"%"}, true, boxes);
    if (result != StoreResult::Ok) return result;
    for (const kvimap::MailboxInfo& box : boxes) {
      if (box.name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::wstring name = box.name.substr(prefix.size());
      if (name.empty() || name.find(Separator()) != std::wstring::npos || IsHidden(name)) continue;
      StoreFolder child = Remember(parent, box.name, name);
      const Listing listing = Describe(boxes, box.name);
      child.countsKnown = true;
      child.counts = CountsOf(listing);
      out.push_back(std::move(child));
    }
    std::sort(out.begin(), out.end(),
              [](const StoreFolder& a, const StoreFolder& b) { return CompareIgnoreCase(a.name, b.name) < 0; });
    return StoreResult::Ok;
  }

  StoreResult Counts(const StoreFolder& folder, FolderCounts& out) override {
    out = FolderCounts();
    if (folder.kind == FolderKind::Root) {
      out.hasSubfolders = true;
      return StoreResult::Ok;
    }
    std::vector<std::wstring> patterns{Prefix(folder) + L"%"};
    if (!folder.location.empty()) patterns.push_back(folder.location);
    std::vector<kvimap::MailboxInfo> boxes;
    StoreResult result = List(patterns, true, boxes);
    if (result == StoreResult::Ok) out = CountsOf(Describe(boxes, folder.location));
    if (folder.kind == FolderKind::CommonViews) out.hasSubfolders = false;
    return result;
  }

  StoreResult CreateFolder(const StoreFolder& parent, const std::wstring& name, const std::wstring&,
                           bool openIfExists, StoreFolder& out) override {
    if (parent.kind == FolderKind::Root || parent.kind == FolderKind::CommonViews) return StoreResult::NoAccess;
    if (IsHidden(name)) return StoreResult::InvalidName;
    std::wstring mailbox;
    kvimap::Status joined = kvimap::JoinMailboxName(parent.location, name, Separator(), &mailbox);
    if (!joined.ok()) return StoreResult::InvalidName;
    StoreResult result = connection_->Use([&](kvimap::ImapClient& client) { return client.Create(mailbox); });
    if (result == StoreResult::Collision && openIfExists) result = StoreResult::Ok;
    if (result != StoreResult::Ok) return result;
    out = Remember(parent, mailbox, name);
    return StoreResult::Ok;
  }

  StoreResult Writable(const StoreFolder& folder, bool& writable) override {
    writable = false;
    if (folder.kind == FolderKind::CommonViews) {
      writable = true;  // the user's own, made when first written to
      return StoreResult::Ok;
    }
    if (folder.kind == FolderKind::Root || folder.location.empty()) return StoreResult::Ok;
    std::string rights;
    StoreResult result = connection_->Use(
        [&](kvimap::ImapClient& client) { return client.MyRights(folder.location, &rights); });
    if (result == StoreResult::NotFound || result == StoreResult::NoAccess) return StoreResult::Ok;
    // Posting is appending: the insert right (RFC 4314 "i").
    writable = result == StoreResult::Ok && rights.find('i') != std::string::npos;
    return result;
  }

  StoreResult PrepareForWriting(const StoreFolder&) override { return StoreResult::Ok; }

  StoreResult OpenMessages(const StoreFolder& folder, bool associated, std::unique_ptr<MessageList>& out) override {
    std::unique_ptr<ServerMessageList> list(new ServerMessageList());
    const std::wstring mailbox = associated ? AssociatedMailbox(folder) : folder.location;
    if (folder.kind != FolderKind::Root && !mailbox.empty()) {
      StoreResult result = list->Load(*connection_, mailbox, associated);
      if (result != StoreResult::Ok) return result;
    }
    out = std::move(list);
    return StoreResult::Ok;
  }

  StoreResult NewDraft(const StoreFolder& folder, bool associated, std::unique_ptr<MessageDraft>& out) override {
    if (folder.kind == FolderKind::Root || (!associated && folder.location.empty())) return StoreResult::NoAccess;
    DraftTarget target;
    target.mailbox = associated ? AssociatedMailbox(folder) : folder.location;
    target.createIfMissing = associated;
    target.senderName = logon_.userName;
    target.senderAddress = SenderAddress();
    return NewServerDraft(connection_, target, out);
  }

  StoreResult SavedMessageFile(const StoreFolder&, const ObjectId&, std::wstring&) override {
    return StoreResult::NotSupported;
  }

 private:
  ObjectId FolderKey(const std::wstring& mailbox) const {
    std::string key(storeId_.begin(), storeId_.end());
    key += ToUtf8(mailbox);
    return DeriveKey(std::vector<uint8_t>(key.begin(), key.end()));
  }

  wchar_t Separator() const { return separator_ ? separator_ : L'/'; }

  // What a folder's children start with.
  std::wstring Prefix(const StoreFolder& folder) const {
    return folder.location.empty() ? std::wstring() : folder.location + Separator();
  }

  std::wstring AssociatedMailbox(const StoreFolder& folder) const {
    return folder.location.empty() ? std::wstring() : folder.location + Separator() + kAssociatedFolderName;
  }

  std::string SenderAddress() const {
    auto usable = [](const std::wstring& address) {
      return address.find(L'@') != std::wstring::npos &&
             std::all_of(address.begin(), address.end(), [](wchar_t c) { return c > L' ' && c <= L'~'; });
    };
    const ServerConfig& config = connection_->config();
    for (const std::wstring& address : {config.sender, logon_.userAddress, config.user + L"@" + config.host})
      if (usable(address)) return ToUtf8(address);
    return "unknown@invalid";
  }

  StoreFolder Remember(const StoreFolder& parent, const std::wstring& mailbox, const std::wstring& name) {
    StoreFolder folder;
    folder.id = FolderKey(mailbox);
    folder.parentId = parent.id;
    folder.kind = FolderKind::Generic;
    folder.name = name;
    folder.location = mailbox;
    folders_[folder.id] = folder;
    return folder;
  }

  StoreResult List(const std::vector<std::wstring>& patterns, bool counts, std::vector<kvimap::MailboxInfo>& boxes) {
    return connection_->Use(
        [&](kvimap::ImapClient& client) { return client.List(L"", patterns, counts, &boxes); });
  }

  Listing Describe(const std::vector<kvimap::MailboxInfo>& boxes, const std::wstring& mailbox) const {
    Listing listing;
    const std::wstring prefix = mailbox.empty() ? std::wstring() : mailbox + Separator();
    for (const kvimap::MailboxInfo& box : boxes) {
      if (!mailbox.empty() && box.name == mailbox) listing.self = &box;
      if (box.name.size() <= prefix.size() || box.name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::wstring rest = box.name.substr(prefix.size());
      if (rest == kAssociatedFolderName) listing.associated = &box;
      else if (rest.find(Separator()) == std::wstring::npos && !IsHidden(rest)) listing.hasSubfolders = true;
    }
    return listing;
  }

  static FolderCounts CountsOf(const Listing& listing) {
    FolderCounts counts;
    counts.hasSubfolders = listing.hasSubfolders;
    if (listing.self) {
      counts.contents = listing.self->messages;
      counts.unread = listing.self->unseen;
    }
    if (listing.associated) counts.associated = listing.associated->messages;
    return counts;
  }

  // The top of information store and Common Views: the separator, and
  // whether the configured folder is there.
  StoreResult Discover() {
    const ServerConfig& config = connection_->config();
    wchar_t separator = 0;
    kvimap::Namespaces spaces;
    StoreResult result = connection_->Use([&](kvimap::ImapClient& client) {
      kvimap::Status status = client.Separator(&separator);
      if (status.ok()) status = client.GetNamespaces(&spaces);
      return status;
    });
    if (result != StoreResult::Ok) return result;
    separator_ = separator;
    std::wstring root = config.root;
    // "Team/" names the namespace; its folder is "Team".
    for (const auto* list : {&spaces.personal, &spaces.otherUsers, &spaces.shared})
      for (const kvimap::Namespace& space : *list)
        if (space.separator && root.size() > 1 && root.back() == space.separator && root == space.prefix) {
          root.pop_back();
          if (!separator_) separator_ = space.separator;
        }
    if (!root.empty() && root.back() == Separator()) root.pop_back();
    if (!root.empty()) {
      std::vector<kvimap::MailboxInfo> boxes;
      result = List({root}, false, boxes);
      if (result != StoreResult::Ok) return result;
      auto found = std::find_if(boxes.begin(), boxes.end(),
                                [&](const kvimap::MailboxInfo& box) { return box.name == root; });
      if (found == boxes.end()) return StoreResult::NotFound;
      if (found->separator) separator_ = found->separator;
    }
    std::wstring personal = spaces.personal.empty() ? std::wstring() : spaces.personal[0].prefix;

    StoreFolder top;
    top.id = rootId_;
    top.kind = FolderKind::Root;
    folders_[top.id] = top;
    StoreFolder ipm;
    ipm.id = ipmId_ = FolderKey(root);
    ipm.parentId = rootId_;
    ipm.kind = FolderKind::IpmSubtree;
    ipm.name = kTopName;
    ipm.location = root;
    folders_[ipm.id] = ipm;
    StoreFolder views;
    views.location = personal + kCommonViewsFolderName;
    views.id = viewsId_ = FolderKey(views.location);
    views.parentId = rootId_;
    views.kind = FolderKind::CommonViews;
    views.name = L"Common Views";
    folders_[views.id] = views;
    discovered_ = true;
    return StoreResult::Ok;
  }

  // Every folder below the top, by one LIST without counts.
  StoreResult LearnTree() {
    const StoreFolder ipm = folders_.at(ipmId_);
    std::vector<kvimap::MailboxInfo> boxes;
    StoreResult result = List({Prefix(ipm) + L"*"}, false, boxes);
    if (result != StoreResult::Ok) return result;
    // Parents come before their children when sorted by name length.
    std::sort(boxes.begin(), boxes.end(),
              [](const kvimap::MailboxInfo& a, const kvimap::MailboxInfo& b) { return a.name.size() < b.name.size(); });
    for (const kvimap::MailboxInfo& box : boxes) {
      const std::wstring name = LastPart(box.name, Separator());
      if (IsHidden(name)) continue;
      const std::wstring parentMailbox =
          box.name.size() > name.size() ? box.name.substr(0, box.name.size() - name.size() - 1) : std::wstring();
      auto parent = folders_.find(FolderKey(parentMailbox));
      if (parent != folders_.end()) Remember(parent->second, box.name, name);
    }
    return StoreResult::Ok;
  }

  std::shared_ptr<ServerConnection> connection_;
  ServerLogon logon_;
  ObjectId storeId_{}, rootId_{}, ipmId_{}, viewsId_{};
  wchar_t separator_ = 0;
  bool discovered_ = false;
  std::unordered_map<ObjectId, StoreFolder, ObjectIdHash> folders_;
};

}  // namespace

StoreResult OpenServerStore(const ServerConfig& config, const ServerLogon& logon, std::unique_ptr<MessageStore>& out) {
  std::wstring password = logon.password;
  if (password.empty() && !config.protectedPassword.empty() && !UnprotectText(config.protectedPassword, password))
    return StoreResult::LogonFailed;
  std::unique_ptr<ServerStore> store(new ServerStore(config, logon, std::move(password)));
  StoreResult result = store->Reconnect();
  if (result != StoreResult::LogonFailed) out = std::move(store);
  return result;
}

}  // namespace provider
