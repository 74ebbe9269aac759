// In-process fakes of MAPI for the module's unit tests: flat functions
// installed into g_MAPIFunctions for one test, and fake sessions, tables,
// stores, folders and mail users. Every call is recorded as one line
// ("IMAPITable::QueryRows rows=50 flags=0x0"), any call can be made to fail
// ("the 2nd next IMAPITable::SetColumns answers MAPI_E_BUSY"), and live
// objects and MAPI buffers are counted, so a test can prove that the module
// released everything on every path.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mapi/mapi_binding.h"

namespace kvfake {

// One property of a fake object or table row. Text is stored single-byte and
// served as PT_STRING8 or PT_UNICODE, whichever the caller asks for.
struct FakeProp {
  ULONG tag = 0;
  LONG number = 0;  // PT_LONG, PT_BOOLEAN; the error code for PT_ERROR
  std::string text;
  std::vector<BYTE> bytes;

  static FakeProp Long(ULONG tag, LONG value);
  static FakeProp Bool(ULONG tag, bool value);
  static FakeProp Text(ULONG tag, const std::string& value);
  static FakeProp Binary(ULONG tag, const std::vector<BYTE>& value);
  static FakeProp Error(ULONG tag, SCODE error = MAPI_E_NOT_FOUND);
};
using FakeRow = std::vector<FakeProp>;

// What a fake session offers; shared by every session MAPILogonEx makes
// while it is in place, so a test may change it between calls.
struct FakeSessionConfig {
  std::vector<FakeRow> statusRows;
  std::vector<FakeRow> storeRows;
  std::vector<BYTE> identityEntryId;
  FakeRow identityProps;
  // Objects OpenEntry and OpenMsgStore can open, by entry id. Each call makes
  // a new object with one reference, which the caller owns.
  std::map<std::vector<BYTE>, std::function<IUnknown*()>> entries;
};

// A status table as the provider shows it: the subsystem row naming the
// profile, then a store provider row.
std::vector<FakeRow> StatusRowsOfProfile(const std::string& profileName);

// A value a fake message or attachment received through SetProps: text for
// string types, bytes for PT_BINARY, number for PT_LONG (and a PT_SYSTIME as
// its 64 bits).
struct FakeValue {
  ULONG tag = 0;
  std::wstring text;
  std::vector<BYTE> bytes;
  LONGLONG number = 0;
};
struct FakeAttachmentRecord {
  std::vector<FakeValue> values;  // in the order of the SetProps calls
  std::vector<BYTE> data;         // written through PR_ATTACH_DATA_BIN streams
  bool saved = false;
};
// Every message a fake folder created: how, what was set, and whether it was
// saved (a fake message is stored only by its SaveChanges).
struct FakeMessageRecord {
  ULONG createFlags = 0;
  std::vector<FakeValue> values;
  std::vector<std::shared_ptr<FakeAttachmentRecord>> attachments;
  ULONG readFlag = 0xFFFFFFFF;  // the flags of the last SetReadFlag; none yet
  bool saved = false;
};

// The fakes of one test. Constructing one installs the fake flat functions
// into g_MAPIFunctions (and marks MAPI bound); destroying it puts back what
// was there. One at a time.
class FakeMapi {
 public:
  FakeMapi();
  ~FakeMapi();
  FakeMapi(const FakeMapi&) = delete;
  FakeMapi& operator=(const FakeMapi&) = delete;

  static FakeMapi& Current();

  // The call log.
  void Record(const std::string& call);
  const std::vector<std::string>& calls() const { return calls_; }
  // The calls whose line starts with prefix ("IMAPITable::", "MAPILogonEx").
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  void ClearCalls() { calls_.clear(); }

  // The nth next call of method ("IMAPITable::SetColumns", "MAPILogonEx")
  // answers result. A MAPI_E_BUSY on a table call that only changes state
  // (SetColumns, Restrict, SortTable, SeekRow) does the work first; calls
  // that deliver something deliver nothing when they fail.
  void FailCall(const std::string& method, HRESULT result, unsigned nth = 1);
  // Used by the fakes: whether this call of method has a programmed answer.
  bool TakeFault(const std::string& method, HRESULT& result);

  // MAPI memory, as MAPIAllocateBuffer, MAPIAllocateMore and MAPIFreeBuffer.
  HRESULT Allocate(ULONG size, void** out);
  HRESULT AllocateMore(ULONG size, void* parent, void** out);
  ULONG Free(void* buffer);
  size_t outstandingBuffers() const { return buffers_.size(); }
  int invalidFrees() const { return invalidFrees_; }  // frees of unknown or child blocks
  // A copy of a property list as one MAPI buffer (strings and bytes linked to
  // it); columns pick and order the properties, a missing one comes back as
  // PT_ERROR / MAPI_E_NOT_FOUND. Null columns: all of them.
  SPropValue* BuildValues(const FakeRow& props, const std::vector<ULONG>* columns, ULONG* count,
                          bool* anyMissing = nullptr);

  // Interface objects made by the fakes and not yet destroyed.
  int liveObjects() const { return liveObjects_; }
  void ObjectCreated() { ++liveObjects_; }
  void ObjectDestroyed() { --liveObjects_; }

  // Messages fake folders created, in order.
  std::vector<std::shared_ptr<FakeMessageRecord>> createdMessages;

  // What the next sessions offer.
  std::shared_ptr<FakeSessionConfig> session = std::make_shared<FakeSessionConfig>();
  // The cursor showing when MAPILogonEx was last called.
  HCURSOR cursorAtLogon = nullptr;
  int initializeCalls = 0;
  int uninitializeCalls = 0;

 private:
  MAPIFunctionTable savedFunctions_{};
  int savedBound_ = 0;
  std::vector<std::string> calls_;
  struct Fault {
    std::string method;
    unsigned callsLeft;
    HRESULT result;
  };
  std::vector<Fault> faults_;
  std::map<void*, std::vector<void*>> buffers_;  // block -> its MAPIAllocateMore children
  int invalidFrees_ = 0;
  int liveObjects_ = 0;
};

// "0x8004010F" for the call log.
std::string Hex(ULONG value);
// Wide text of a call argument for the log; "null" for a null pointer.
std::string Printable(const wchar_t* text);

// A session as MAPILogonEx hands it out: stores and status tables, identity,
// OpenEntry and OpenMsgStore through the config's entries, Logoff.
IMAPISession* NewFakeSession(std::shared_ptr<FakeSessionConfig> config);
// A table over rows (each row a full property list; SetColumns picks).
IMAPITable* NewFakeTable(std::vector<FakeRow> rows);
// Property objects: GetProps answers from props. A store and a folder also
// open what the session's config lists; a folder's tables list the given
// rows (hierarchy, contents, associated contents).
IMailUser* NewFakeMailUser(FakeRow props);
IMsgStore* NewFakeStore(FakeRow props, std::shared_ptr<FakeSessionConfig> config);
struct FakeFolderContents {
  std::vector<FakeRow> subfolders;
  std::vector<FakeRow> messages;
  std::vector<FakeRow> associatedMessages;
};
IMAPIFolder* NewFakeFolder(FakeRow props, FakeFolderContents contents, std::shared_ptr<FakeSessionConfig> config);

}  // namespace kvfake
