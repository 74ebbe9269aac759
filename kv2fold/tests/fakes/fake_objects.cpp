// The fake MAPI objects: each records its calls, answers programmed
// failures, and counts itself live until its last Release.
#include <mapitags.h>

#include <algorithm>
#include <cstring>

#include "tests/fakes/fake_mapi.h"

namespace kvfake {
namespace {

// The MAPI interface declarations have no virtual destructor; the fakes are
// only ever deleted through FakeUnknown, whose destructor is virtual.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

template <typename Interface>
class FakeUnknown : public Interface {
 public:
  explicit FakeUnknown(const char* name) : name_(name) { FakeMapi::Current().ObjectCreated(); }
  virtual ~FakeUnknown() { FakeMapi::Current().ObjectDestroyed(); }
  FakeUnknown(const FakeUnknown&) = delete;
  FakeUnknown& operator=(const FakeUnknown&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    FakeMapi::Current().Record(std::string(name_) + "::Release");
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  // Records "Interface::Method arguments"; true when the test programmed this
  // call to fail, with the answer in result.
  bool Enter(const char* method, const std::string& arguments, HRESULT& result) {
    std::string name = std::string(name_) + "::" + method;
    FakeMapi::Current().Record(arguments.empty() ? name : name + " " + arguments);
    return FakeMapi::Current().TakeFault(name, result);
  }
  HRESULT NoSupport(const char* method) {
    HRESULT result = MAPI_E_NO_SUPPORT;
    Enter(method, "", result);
    return result;
  }
  HRESULT MakeError(HRESULT code, LPMAPIERROR* error) {
    if (!error) return MAPI_E_INVALID_PARAMETER;
    *error = nullptr;
    FakeMapi& fake = FakeMapi::Current();
    void* raw = nullptr;
    if (FAILED(fake.Allocate(sizeof(MAPIERROR), &raw))) return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* record = static_cast<MAPIERROR*>(raw);
    std::string text = std::string(name_) + " failed with " + Hex(static_cast<ULONG>(code));
    void* more = nullptr;
    fake.AllocateMore(static_cast<ULONG>(text.size() + 1), raw, &more);
    memcpy(more, text.c_str(), text.size() + 1);
    record->ulVersion = MAPI_ERROR_VERSION;
    record->lpszError = static_cast<LPTSTR>(more);
    *error = record;
    return S_OK;
  }

  const char* name_;

 private:
  ULONG references_ = 1;
};

std::string Flags(ULONG flags) { return "flags=" + Hex(flags); }

// A table over rows; SetColumns picks the columns, QueryRows reads from the
// cursor. Restrict and SortTable are recorded but change nothing.
class FakeTable final : public FakeUnknown<IMAPITable> {
 public:
  explicit FakeTable(std::vector<FakeRow> rows) : FakeUnknown("IMAPITable"), rows_(std::move(rows)) {}

  STDMETHODIMP GetLastError(HRESULT code, ULONG flags, LPMAPIERROR* error) override {
    if (error) *error = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetLastError", "result=" + Hex(static_cast<ULONG>(code)) + " " + Flags(flags), result)) return result;
    return MakeError(code, error);
  }
  STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG* connection) override {
    if (connection) *connection = 0;
    return NoSupport("Advise");
  }
  STDMETHODIMP Unadvise(ULONG) override { return NoSupport("Unadvise"); }
  STDMETHODIMP GetStatus(ULONG*, ULONG*) override { return NoSupport("GetStatus"); }
  STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG flags) override {
    HRESULT result = S_OK;
    bool faulted = Enter("SetColumns", "columns=" + std::to_string(tags ? tags->cValues : 0) + " " + Flags(flags), result);
    if (faulted && result != MAPI_E_BUSY) return result;
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return result;
  }
  STDMETHODIMP QueryColumns(ULONG flags, LPSPropTagArray* tags) override {
    if (tags) *tags = nullptr;
    HRESULT result = S_OK;
    if (Enter("QueryColumns", Flags(flags), result)) return result;
    std::vector<ULONG> all;
    for (const FakeRow& row : rows_) {
      for (const FakeProp& prop : row) {
        if (std::find(all.begin(), all.end(), prop.tag) == all.end()) all.push_back(prop.tag);
      }
    }
    void* raw = nullptr;
    if (FAILED(FakeMapi::Current().Allocate(static_cast<ULONG>(CbNewSPropTagArray(all.size())), &raw))) {
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    auto* array = static_cast<SPropTagArray*>(raw);
    array->cValues = static_cast<ULONG>(all.size());
    std::copy(all.begin(), all.end(), array->aulPropTag);
    *tags = array;
    return S_OK;
  }
  STDMETHODIMP GetRowCount(ULONG flags, ULONG* count) override {
    HRESULT result = S_OK;
    if (Enter("GetRowCount", Flags(flags), result)) return result;
    *count = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  STDMETHODIMP SeekRow(BOOKMARK origin, LONG rowCount, LONG* sought) override {
    HRESULT result = S_OK;
    std::string where = origin == BOOKMARK_BEGINNING ? "beginning" : Hex(static_cast<ULONG>(origin));
    bool faulted = Enter("SeekRow", "origin=" + where + " rows=" + std::to_string(rowCount) +
                                        (sought ? " sought=set" : " sought=null"), result);
    if (faulted && result != MAPI_E_BUSY) return result;
    if (origin == BOOKMARK_BEGINNING) cursor_ = 0;
    if (origin == BOOKMARK_END) cursor_ = rows_.size();
    cursor_ = static_cast<size_t>(std::clamp<LONG>(static_cast<LONG>(cursor_) + rowCount, 0,
                                                   static_cast<LONG>(rows_.size())));
    if (sought) *sought = rowCount;
    return result;
  }
  STDMETHODIMP SeekRowApprox(ULONG, ULONG) override { return NoSupport("SeekRowApprox"); }
  STDMETHODIMP QueryPosition(ULONG*, ULONG*, ULONG*) override { return NoSupport("QueryPosition"); }
  STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override { return NoSupport("FindRow"); }
  STDMETHODIMP Restrict(LPSRestriction restriction, ULONG flags) override {
    HRESULT result = S_OK;
    bool faulted = Enter("Restrict", std::string(restriction ? "restriction=set " : "restriction=null ") + Flags(flags),
                         result);
    return faulted ? result : S_OK;
  }
  STDMETHODIMP CreateBookmark(BOOKMARK*) override { return NoSupport("CreateBookmark"); }
  STDMETHODIMP FreeBookmark(BOOKMARK) override { return NoSupport("FreeBookmark"); }
  STDMETHODIMP SortTable(LPSSortOrderSet order, ULONG flags) override {
    HRESULT result = S_OK;
    bool faulted = Enter("SortTable", std::string(order ? "order=set " : "order=null ") + Flags(flags), result);
    return faulted ? result : S_OK;
  }
  STDMETHODIMP QuerySortOrder(LPSSortOrderSet* order) override {
    if (order) *order = nullptr;
    return NoSupport("QuerySortOrder");
  }
  STDMETHODIMP QueryRows(LONG rowCount, ULONG flags, LPSRowSet* rows) override {
    if (rows) *rows = nullptr;
    HRESULT result = S_OK;
    if (Enter("QueryRows", "rows=" + std::to_string(rowCount) + " " + Flags(flags), result)) return result;
    FakeMapi& fake = FakeMapi::Current();
    size_t count = std::min(static_cast<size_t>(std::max<LONG>(rowCount, 0)), rows_.size() - cursor_);
    void* raw = nullptr;
    if (FAILED(fake.Allocate(static_cast<ULONG>(CbNewSRowSet(count)), &raw))) return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* set = static_cast<SRowSet*>(raw);
    set->cRows = static_cast<ULONG>(count);
    for (size_t i = 0; i < count; ++i) {
      set->aRow[i].lpProps =
          fake.BuildValues(rows_[cursor_ + i], columns_.empty() ? nullptr : &columns_, &set->aRow[i].cValues);
    }
    cursor_ += count;
    *rows = set;
    return S_OK;
  }
  STDMETHODIMP Abort() override { return NoSupport("Abort"); }
  STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet* rows, ULONG* more) override {
    if (rows) *rows = nullptr;
    if (more) *more = 0;
    return NoSupport("ExpandRow");
  }
  STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG* count) override {
    if (count) *count = 0;
    return NoSupport("CollapseRow");
  }
  STDMETHODIMP WaitForCompletion(ULONG flags, ULONG timeout, ULONG* status) override {
    HRESULT result = S_OK;
    Enter("WaitForCompletion",
          Flags(flags) + " timeout=" + std::to_string(timeout) + (status ? " status=set" : " status=null"), result);
    return result;
  }
  STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG* size, LPBYTE* state) override {
    if (size) *size = 0;
    if (state) *state = nullptr;
    return NoSupport("GetCollapseState");
  }
  STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return NoSupport("SetCollapseState"); }

 private:
  std::vector<FakeRow> rows_;
  std::vector<ULONG> columns_;
  size_t cursor_ = 0;
};

// IMAPIProp over a property list: GetProps answers, changes are not offered.
template <typename Interface>
class FakePropObject : public FakeUnknown<Interface> {
 public:
  FakePropObject(const char* name, FakeRow props) : FakeUnknown<Interface>(name), props_(std::move(props)) {}

  STDMETHODIMP GetLastError(HRESULT code, ULONG flags, LPMAPIERROR* error) override {
    if (error) *error = nullptr;
    HRESULT result = S_OK;
    if (this->Enter("GetLastError", "result=" + Hex(static_cast<ULONG>(code)) + " " + Flags(flags), result)) {
      return result;
    }
    return this->MakeError(code, error);
  }
  STDMETHODIMP SaveChanges(ULONG) override { return this->NoSupport("SaveChanges"); }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override {
    if (count) *count = 0;
    if (values) *values = nullptr;
    HRESULT result = S_OK;
    std::string what = tags ? "tags=" + std::to_string(tags->cValues) : std::string("tags=all");
    if (this->Enter("GetProps", what + " " + Flags(flags), result)) return result;
    std::vector<ULONG> columns;
    if (tags) columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    bool anyMissing = false;
    *values = FakeMapi::Current().BuildValues(props_, tags ? &columns : nullptr, count, &anyMissing);
    if (!*values) return MAPI_E_NOT_ENOUGH_MEMORY;
    return anyMissing ? MAPI_W_ERRORS_RETURNED : S_OK;
  }
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray* tags) override {
    if (tags) *tags = nullptr;
    return this->NoSupport("GetPropList");
  }
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    return this->NoSupport("OpenProperty");
  }
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return this->NoSupport("SetProps");
  }
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return this->NoSupport("DeleteProps");
  }
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return this->NoSupport("CopyTo");
  }
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return this->NoSupport("CopyProps");
  }
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG* count, LPMAPINAMEID** names) override {
    if (count) *count = 0;
    if (names) *names = nullptr;
    return this->NoSupport("GetNamesFromIDs");
  }
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray* tags) override {
    if (tags) *tags = nullptr;
    return this->NoSupport("GetIDsFromNames");
  }

 protected:
  // An object from the session's entries, or MAPI_E_NOT_FOUND.
  HRESULT OpenListed(const FakeSessionConfig& config, ULONG size, LPENTRYID id, ULONG* type, LPUNKNOWN* object) {
    std::vector<BYTE> key(reinterpret_cast<BYTE*>(id), reinterpret_cast<BYTE*>(id) + (id ? size : 0));
    auto found = config.entries.find(key);
    if (found == config.entries.end()) return MAPI_E_NOT_FOUND;
    *object = found->second();
    if (type) *type = 0;
    return *object ? S_OK : MAPI_E_NOT_FOUND;
  }

  FakeRow props_;
};

// What SetProps received, as the test reads it back.
std::vector<FakeValue> RecordValues(ULONG count, const SPropValue* values) {
  std::vector<FakeValue> recorded;
  for (ULONG i = 0; i < count; ++i) {
    FakeValue value;
    value.tag = values[i].ulPropTag;
    switch (PROP_TYPE(value.tag)) {
      case PT_UNICODE:
        if (values[i].Value.lpszW) value.text = values[i].Value.lpszW;
        break;
      case PT_STRING8:
        if (values[i].Value.lpszA) {
          for (const char* c = values[i].Value.lpszA; *c; ++c) value.text += static_cast<wchar_t>(*c);
        }
        break;
      case PT_BINARY:
        if (values[i].Value.bin.lpb) {
          value.bytes.assign(values[i].Value.bin.lpb, values[i].Value.bin.lpb + values[i].Value.bin.cb);
        }
        break;
      case PT_SYSTIME:
        value.number = static_cast<LONGLONG>((static_cast<ULONGLONG>(values[i].Value.ft.dwHighDateTime) << 32) |
                                             values[i].Value.ft.dwLowDateTime);
        break;
      default:
        value.number = values[i].Value.l;
        break;
    }
    recorded.push_back(value);
  }
  return recorded;
}

// A write stream into an attachment's data.
class FakeStream final : public FakeUnknown<IStream> {
 public:
  explicit FakeStream(std::shared_ptr<FakeAttachmentRecord> record)
      : FakeUnknown("IStream"), record_(std::move(record)) {}

  STDMETHODIMP Read(void*, ULONG, ULONG* read) override {
    if (read) *read = 0;
    return NoSupport("Read");
  }
  STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    HRESULT result = S_OK;
    if (Enter("Write", "bytes=" + std::to_string(size), result)) return result;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    record_->data.insert(record_->data.end(), bytes, bytes + size);
    if (written) *written = size;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return NoSupport("Seek"); }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return NoSupport("SetSize"); }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return NoSupport("CopyTo");
  }
  STDMETHODIMP Commit(DWORD) override { return NoSupport("Commit"); }
  STDMETHODIMP Revert() override { return NoSupport("Revert"); }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return NoSupport("LockRegion"); }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return NoSupport("UnlockRegion"); }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return NoSupport("Stat"); }
  STDMETHODIMP Clone(IStream** clone) override {
    if (clone) *clone = nullptr;
    return NoSupport("Clone");
  }

 private:
  std::shared_ptr<FakeAttachmentRecord> record_;
};

// A message or attachment that records its values and its save.
template <typename Interface, typename Record>
class FakeRecordedObject : public FakePropObject<Interface> {
 public:
  FakeRecordedObject(const char* name, std::shared_ptr<Record> record)
      : FakePropObject<Interface>(name, {}), record_(std::move(record)) {}

  STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    HRESULT result = S_OK;
    if (this->Enter("SetProps", "values=" + std::to_string(count), result)) return result;
    std::vector<FakeValue> recorded = RecordValues(count, values);
    record_->values.insert(record_->values.end(), recorded.begin(), recorded.end());
    return S_OK;
  }
  STDMETHODIMP SaveChanges(ULONG flags) override {
    HRESULT result = S_OK;
    if (this->Enter("SaveChanges", Flags(flags), result)) return result;
    record_->saved = true;
    return S_OK;
  }

 protected:
  std::shared_ptr<Record> record_;
};

class FakeAttach final : public FakeRecordedObject<IAttach, FakeAttachmentRecord> {
 public:
  explicit FakeAttach(std::shared_ptr<FakeAttachmentRecord> record) : FakeRecordedObject("IAttach", std::move(record)) {}

  STDMETHODIMP OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    HRESULT result = S_OK;
    const bool stream = iid && IsEqualIID(*iid, IID_IStream);
    if (Enter("OpenProperty", "tag=" + Hex(tag) + (stream ? " IStream" : " other") + " options=" + Hex(options) +
                                  " " + Flags(flags),
              result)) {
      return result;
    }
    if (!object || !stream) return MAPI_E_INVALID_PARAMETER;
    *object = new FakeStream(record_);
    return S_OK;
  }
};

class FakeMessage final : public FakeRecordedObject<IMessage, FakeMessageRecord> {
 public:
  explicit FakeMessage(std::shared_ptr<FakeMessageRecord> record) : FakeRecordedObject("IMessage", std::move(record)) {}

  STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    return NoSupport("GetAttachmentTable");
  }
  STDMETHODIMP OpenAttach(ULONG, LPCIID, ULONG, LPATTACH* attachment) override {
    if (attachment) *attachment = nullptr;
    return NoSupport("OpenAttach");
  }
  STDMETHODIMP CreateAttach(LPCIID, ULONG flags, ULONG* number, LPATTACH* attachment) override {
    if (attachment) *attachment = nullptr;
    HRESULT result = S_OK;
    if (Enter("CreateAttach", Flags(flags), result)) return result;
    if (!number || !attachment) return MAPI_E_INVALID_PARAMETER;
    record_->attachments.push_back(std::make_shared<FakeAttachmentRecord>());
    *number = static_cast<ULONG>(record_->attachments.size() - 1);
    *attachment = new FakeAttach(record_->attachments.back());
    return S_OK;
  }
  STDMETHODIMP DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG) override { return NoSupport("DeleteAttach"); }
  STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    return NoSupport("GetRecipientTable");
  }
  STDMETHODIMP ModifyRecipients(ULONG, LPADRLIST) override { return NoSupport("ModifyRecipients"); }
  STDMETHODIMP SubmitMessage(ULONG) override { return NoSupport("SubmitMessage"); }
  STDMETHODIMP SetReadFlag(ULONG flags) override {
    HRESULT result = S_OK;
    if (Enter("SetReadFlag", Flags(flags), result)) return result;
    record_->readFlag = flags;
    return S_OK;
  }
};

class FakeMailUser final : public FakePropObject<IMailUser> {
 public:
  explicit FakeMailUser(FakeRow props) : FakePropObject("IMailUser", std::move(props)) {}
};

class FakeStore final : public FakePropObject<IMsgStore> {
 public:
  FakeStore(FakeRow props, std::shared_ptr<FakeSessionConfig> config)
      : FakePropObject("IMsgStore", std::move(props)), config_(std::move(config)) {}

  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) override {
    if (connection) *connection = 0;
    return NoSupport("Advise");
  }
  STDMETHODIMP Unadvise(ULONG) override { return NoSupport("Unadvise"); }
  STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG* result) override {
    if (result) *result = 0;
    return NoSupport("CompareEntryIDs");
  }
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID, ULONG flags, ULONG* type, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    HRESULT result = S_OK;
    if (Enter("OpenEntry", "size=" + std::to_string(size) + " " + Flags(flags), result)) return result;
    if (!object) return MAPI_E_INVALID_PARAMETER;
    return OpenListed(*config_, size, id, type, object);
  }
  STDMETHODIMP SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return NoSupport("SetReceiveFolder"); }
  STDMETHODIMP GetReceiveFolder(LPTSTR, ULONG, ULONG* size, LPENTRYID* id, LPTSTR* explicitClass) override {
    if (size) *size = 0;
    if (id) *id = nullptr;
    if (explicitClass) *explicitClass = nullptr;
    return NoSupport("GetReceiveFolder");
  }
  STDMETHODIMP GetReceiveFolderTable(ULONG, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    return NoSupport("GetReceiveFolderTable");
  }
  STDMETHODIMP StoreLogoff(ULONG*) override { return NoSupport("StoreLogoff"); }
  STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG) override { return NoSupport("AbortSubmit"); }
  STDMETHODIMP GetOutgoingQueue(ULONG, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    return NoSupport("GetOutgoingQueue");
  }
  STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override { return NoSupport("SetLockState"); }
  STDMETHODIMP FinishedMsg(ULONG, ULONG, LPENTRYID) override { return NoSupport("FinishedMsg"); }
  STDMETHODIMP NotifyNewMail(LPNOTIFICATION) override { return NoSupport("NotifyNewMail"); }

 private:
  std::shared_ptr<FakeSessionConfig> config_;
};

class FakeFolder final : public FakePropObject<IMAPIFolder> {
 public:
  FakeFolder(FakeRow props, FakeFolderContents contents, std::shared_ptr<FakeSessionConfig> config)
      : FakePropObject("IMAPIFolder", std::move(props)), contents_(std::move(contents)), config_(std::move(config)) {}

  STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetContentsTable", Flags(flags), result)) return result;
    *table = NewFakeTable((flags & MAPI_ASSOCIATED) ? contents_.associatedMessages : contents_.messages);
    return S_OK;
  }
  STDMETHODIMP GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetHierarchyTable", Flags(flags), result)) return result;
    *table = NewFakeTable(contents_.subfolders);
    return S_OK;
  }
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID, ULONG flags, ULONG* type, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    HRESULT result = S_OK;
    if (Enter("OpenEntry", "size=" + std::to_string(size) + " " + Flags(flags), result)) return result;
    if (!object) return MAPI_E_INVALID_PARAMETER;
    return OpenListed(*config_, size, id, type, object);
  }
  STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return NoSupport("SetSearchCriteria"); }
  STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction* restriction, LPENTRYLIST* containers, ULONG* state) override {
    if (restriction) *restriction = nullptr;
    if (containers) *containers = nullptr;
    if (state) *state = 0;
    return NoSupport("GetSearchCriteria");
  }
  STDMETHODIMP CreateMessage(LPCIID, ULONG flags, LPMESSAGE* message) override {
    if (message) *message = nullptr;
    HRESULT result = S_OK;
    if (Enter("CreateMessage", Flags(flags), result)) return result;
    if (!message) return MAPI_E_INVALID_PARAMETER;
    auto record = std::make_shared<FakeMessageRecord>();
    record->createFlags = flags;
    FakeMapi::Current().createdMessages.push_back(record);
    *message = new FakeMessage(record);
    return S_OK;
  }
  STDMETHODIMP CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG) override {
    return NoSupport("CopyMessages");
  }
  STDMETHODIMP DeleteMessages(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) override { return NoSupport("DeleteMessages"); }
  STDMETHODIMP CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER* folder) override {
    if (folder) *folder = nullptr;
    return NoSupport("CreateFolder");
  }
  STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG) override {
    return NoSupport("CopyFolder");
  }
  STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG) override { return NoSupport("DeleteFolder"); }
  STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) override { return NoSupport("SetReadFlags"); }
  STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG* status) override {
    if (status) *status = 0;
    return NoSupport("GetMessageStatus");
  }
  STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG* oldStatus) override {
    if (oldStatus) *oldStatus = 0;
    return NoSupport("SetMessageStatus");
  }
  STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG) override { return NoSupport("SaveContentsSort"); }
  STDMETHODIMP EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG) override { return NoSupport("EmptyFolder"); }

 private:
  FakeFolderContents contents_;
  std::shared_ptr<FakeSessionConfig> config_;
};

class FakeSession final : public FakeUnknown<IMAPISession> {
 public:
  explicit FakeSession(std::shared_ptr<FakeSessionConfig> config)
      : FakeUnknown("IMAPISession"), config_(std::move(config)) {}

  STDMETHODIMP GetLastError(HRESULT code, ULONG flags, LPMAPIERROR* error) override {
    if (error) *error = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetLastError", "result=" + Hex(static_cast<ULONG>(code)) + " " + Flags(flags), result)) return result;
    return MakeError(code, error);
  }
  STDMETHODIMP GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetMsgStoresTable", Flags(flags), result)) return result;
    *table = NewFakeTable(config_->storeRows);
    return S_OK;
  }
  STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG size, LPENTRYID id, LPCIID, ULONG flags, LPMDB* store) override {
    if (store) *store = nullptr;
    HRESULT result = S_OK;
    if (Enter("OpenMsgStore", "size=" + std::to_string(size) + " " + Flags(flags), result)) return result;
    if (!store) return MAPI_E_INVALID_PARAMETER;
    std::vector<BYTE> key(reinterpret_cast<BYTE*>(id), reinterpret_cast<BYTE*>(id) + (id ? size : 0));
    auto found = config_->entries.find(key);
    if (found == config_->entries.end()) return MAPI_E_NOT_FOUND;
    *store = static_cast<IMsgStore*>(found->second());
    return *store ? S_OK : MAPI_E_NOT_FOUND;
  }
  STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* book) override {
    if (book) *book = nullptr;
    return NoSupport("OpenAddressBook");
  }
  STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT* section) override {
    if (section) *section = nullptr;
    return NoSupport("OpenProfileSection");
  }
  STDMETHODIMP GetStatusTable(ULONG flags, LPMAPITABLE* table) override {
    if (table) *table = nullptr;
    HRESULT result = S_OK;
    if (Enter("GetStatusTable", Flags(flags), result)) return result;
    *table = NewFakeTable(config_->statusRows);
    return S_OK;
  }
  STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID, ULONG flags, ULONG* type, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    HRESULT result = S_OK;
    if (Enter("OpenEntry", "size=" + std::to_string(size) + " " + Flags(flags), result)) return result;
    if (!object) return MAPI_E_INVALID_PARAMETER;
    std::vector<BYTE> key(reinterpret_cast<BYTE*>(id), reinterpret_cast<BYTE*>(id) + (id ? size : 0));
    if (!key.empty() && key == config_->identityEntryId) {
      *object = NewFakeMailUser(config_->identityProps);
      if (type) *type = MAPI_MAILUSER;
      return S_OK;
    }
    auto found = config_->entries.find(key);
    if (found == config_->entries.end()) return MAPI_E_NOT_FOUND;
    *object = found->second();
    return *object ? S_OK : MAPI_E_NOT_FOUND;
  }
  STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG* result) override {
    if (result) *result = 0;
    return NoSupport("CompareEntryIDs");
  }
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) override {
    if (connection) *connection = 0;
    return NoSupport("Advise");
  }
  STDMETHODIMP Unadvise(ULONG) override { return NoSupport("Unadvise"); }
  STDMETHODIMP MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override { return NoSupport("MessageOptions"); }
  STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG* count, LPSPropValue* options) override {
    if (count) *count = 0;
    if (options) *options = nullptr;
    return NoSupport("QueryDefaultMessageOpt");
  }
  STDMETHODIMP EnumAdrTypes(ULONG, ULONG* count, LPTSTR** types) override {
    if (count) *count = 0;
    if (types) *types = nullptr;
    return NoSupport("EnumAdrTypes");
  }
  STDMETHODIMP QueryIdentity(ULONG* size, LPENTRYID* id) override {
    if (size) *size = 0;
    if (id) *id = nullptr;
    HRESULT result = S_OK;
    if (Enter("QueryIdentity", "", result)) return result;
    if (config_->identityEntryId.empty()) return MAPI_E_NOT_FOUND;
    void* raw = nullptr;
    if (FAILED(FakeMapi::Current().Allocate(static_cast<ULONG>(config_->identityEntryId.size()), &raw))) {
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    memcpy(raw, config_->identityEntryId.data(), config_->identityEntryId.size());
    *size = static_cast<ULONG>(config_->identityEntryId.size());
    *id = static_cast<LPENTRYID>(raw);
    return S_OK;
  }
  STDMETHODIMP Logoff(ULONG_PTR, ULONG flags, ULONG) override {
    HRESULT result = S_OK;
    Enter("Logoff", Flags(flags), result);
    return result;
  }
  STDMETHODIMP SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return NoSupport("SetDefaultStore"); }
  STDMETHODIMP AdminServices(ULONG, LPSERVICEADMIN* admin) override {
    if (admin) *admin = nullptr;
    return NoSupport("AdminServices");
  }
  STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG,
                        LPSTR) override {
    return NoSupport("ShowForm");
  }
  STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG* token) override {
    if (token) *token = 0;
    return NoSupport("PrepareForm");
  }

 private:
  std::shared_ptr<FakeSessionConfig> config_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

IMAPISession* NewFakeSession(std::shared_ptr<FakeSessionConfig> config) { return new FakeSession(std::move(config)); }
IMAPITable* NewFakeTable(std::vector<FakeRow> rows) { return new FakeTable(std::move(rows)); }
IMailUser* NewFakeMailUser(FakeRow props) { return new FakeMailUser(std::move(props)); }
IMsgStore* NewFakeStore(FakeRow props, std::shared_ptr<FakeSessionConfig> config) {
  return new FakeStore(std::move(props), std::move(config));
}
IMAPIFolder* NewFakeFolder(FakeRow props, FakeFolderContents contents, std::shared_ptr<FakeSessionConfig> config) {
  return new FakeFolder(std::move(props), std::move(contents), std::move(config));
}

}  // namespace kvfake
