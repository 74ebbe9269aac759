// A MAPI client of the tests' own, in a session of its own, through the
// MAPI32.DLL the module uses: what each message of a folder holds.
#pragma once

#include <windows.h>

#include <mapitags.h>
#include <mapiutil.h>
#include <mapix.h>

#include <gtest/gtest.h>

#include <kvcommon/unique_resource.h>

#include <map>
#include <string>
#include <vector>

namespace kvtest {

using Bytes = std::vector<BYTE>;
using kvcommon::UniqueInterface;

// What a posted message holds, as a MAPI client reads it.
struct Posted {
  std::wstring subject, messageClass, topic, senderName, representingName;
  Bytes senderEntryId, senderSearchKey, representingEntryId, representingSearchKey;
  LONGLONG submitted = 0, delivered = 0;
  LONG importance = -1, sensitivity = -1;
  bool read = true;
  std::wstring longName, shortName, extension, attachmentDisplayName;
  LONG method = -1;
  Bytes data;
};

// A MAPI client in the test's own session, through the MAPI32.DLL the module
// uses.
class MapiReader {
 public:
  explicit MapiReader(HMODULE mapi) {
    initialize_ = reinterpret_cast<decltype(initialize_)>(GetProcAddress(mapi, "MAPIInitialize"));
    uninitialize_ = reinterpret_cast<decltype(uninitialize_)>(GetProcAddress(mapi, "MAPIUninitialize"));
    logon_ = reinterpret_cast<decltype(logon_)>(GetProcAddress(mapi, "MAPILogonEx"));
    freeBuffer_ = reinterpret_cast<decltype(freeBuffer_)>(GetProcAddress(mapi, "MAPIFreeBuffer"));
    // The utility functions are exported undecorated on 64-bit, decorated on 32-bit.
    getOneProp_ = reinterpret_cast<decltype(getOneProp_)>(Export(mapi, "HrGetOneProp", "HrGetOneProp@12"));
    queryAllRows_ = reinterpret_cast<decltype(queryAllRows_)>(Export(mapi, "HrQueryAllRows", "HrQueryAllRows@24"));
    freeRows_ = reinterpret_cast<decltype(freeRows_)>(Export(mapi, "FreeProws", "FreeProws@4"));
  }

  // The messages of the folder below the store's top of information store
  // at path (empty: the Common Views folder), in the order they were saved.
  std::vector<Posted> Read(const wchar_t* profile, const wchar_t* password, const std::vector<std::wstring>& path) {
    std::vector<Posted> posted;
    EXPECT_EQ(S_OK, initialize_(nullptr));
    {
      UniqueInterface<IMAPISession> session;
      EXPECT_EQ(S_OK, logon_(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile)),
                             reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(password)),
                             MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, session.put()));
      if (session) {
        posted = ReadFolder(session.get(), path);
        session->Logoff(0, 0, 0);
      }
    }
    uninitialize_();
    return posted;
  }

 private:
  static FARPROC Export(HMODULE mapi, const char* name, const char* decorated) {
    FARPROC function = GetProcAddress(mapi, name);
    return function ? function : GetProcAddress(mapi, decorated);
  }
  template <typename T>
  struct Freed {
    Freed(T* p, ULONG(WINAPI* free)(LPVOID)) : value(p), freeBuffer(free) {}
    ~Freed() {
      if (value) freeBuffer(value);
    }
    T* value;
    ULONG(WINAPI* freeBuffer)(LPVOID);
  };

  // A value whose text or bytes point into a MAPI buffer, made to point into
  // copies that outlive it (neither vector grows beyond its reserve).
  static SPropValue Kept(SPropValue value, std::vector<Bytes>& keep, std::vector<std::wstring>& texts) {
    if (PROP_TYPE(value.ulPropTag) == PT_BINARY) {
      keep.emplace_back(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
      value.Value.bin.lpb = keep.back().data();
    }
    if (PROP_TYPE(value.ulPropTag) == PT_UNICODE) {
      texts.emplace_back(value.Value.lpszW);
      value.Value.lpszW = &texts.back()[0];
    }
    return value;
  }

  // Every row of a table, columns as given.
  std::vector<std::vector<SPropValue>> Rows(IMAPITable* table, std::vector<ULONG> tags, std::vector<Bytes>& keep,
                                            std::vector<std::wstring>& texts) {
    std::vector<BYTE> array(CbNewSPropTagArray(tags.size()));
    auto* columns = reinterpret_cast<SPropTagArray*>(array.data());
    columns->cValues = static_cast<ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) columns->aulPropTag[i] = tags[i];
    SRowSet* rows = nullptr;
    std::vector<std::vector<SPropValue>> out;
    if (FAILED(queryAllRows_(table, columns, nullptr, nullptr, 0, &rows)) || !rows) return out;
    for (ULONG r = 0; r < rows->cRows; ++r) {
      std::vector<SPropValue> row;
      for (ULONG c = 0; c < rows->aRow[r].cValues; ++c) row.push_back(Kept(rows->aRow[r].lpProps[c], keep, texts));
      out.push_back(row);
    }
    freeRows_(rows);
    return out;
  }

  template <typename Interface>
  HRESULT Open(IMAPIProp* from, const SBinary& id, UniqueInterface<Interface>& out) {
    ULONG type = 0;
    auto* store = static_cast<IMsgStore*>(from);
    return store->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type,
                            reinterpret_cast<IUnknown**>(out.put()));
  }

  std::vector<Posted> ReadFolder(IMAPISession* session, const std::vector<std::wstring>& path) {
    std::vector<Posted> posted;
    // Copied values stay in place: neither vector grows beyond its reserve.
    std::vector<Bytes> keep;
    std::vector<std::wstring> texts;
    keep.reserve(10000);
    texts.reserve(10000);
    UniqueInterface<IMAPITable> stores;
    EXPECT_EQ(S_OK, session->GetMsgStoresTable(0, stores.put()));
    auto storeRows = Rows(stores.get(), {PR_ENTRYID}, keep, texts);
    if (storeRows.size() != 1) return posted;
    UniqueInterface<IMsgStore> store;
    const SBinary storeId = storeRows[0][0].Value.bin;
    EXPECT_EQ(S_OK, session->OpenMsgStore(0, storeId.cb, reinterpret_cast<LPENTRYID>(storeId.lpb), nullptr, 0,
                                          store.put()));
    if (!store) return posted;
    SPropValue* start = nullptr;
    EXPECT_EQ(S_OK, getOneProp_(store.get(), path.empty() ? PR_COMMON_VIEWS_ENTRYID : PR_IPM_SUBTREE_ENTRYID, &start));
    Freed<SPropValue> startOwner(start, freeBuffer_);
    if (!start) return posted;
    UniqueInterface<IMAPIFolder> folder;
    EXPECT_EQ(S_OK, Open(store.get(), start->Value.bin, folder));
    for (const std::wstring& name : path) {
      UniqueInterface<IMAPITable> children;
      if (!folder || FAILED(folder->GetHierarchyTable(0, children.put()))) return posted;
      UniqueInterface<IMAPIFolder> child;
      for (const auto& row : Rows(children.get(), {PR_DISPLAY_NAME_W, PR_ENTRYID}, keep, texts)) {
        if (row[0].ulPropTag == PR_DISPLAY_NAME_W && name == row[0].Value.lpszW) Open(store.get(), row[1].Value.bin, child);
      }
      folder = std::move(child);
    }
    UniqueInterface<IMAPITable> contents;
    if (!folder || FAILED(folder->GetContentsTable(0, contents.put()))) return posted;
    for (const auto& row : Rows(contents.get(), {PR_ENTRYID}, keep, texts)) {
      UniqueInterface<IMessage> message;
      EXPECT_EQ(S_OK, Open(store.get(), row[0].Value.bin, message));
      if (message) posted.push_back(ReadMessage(message.get()));
    }
    return posted;
  }

  // The values of tags on object, by tag (missing ones left out).
  std::map<ULONG, SPropValue> Values(IMAPIProp* object, std::vector<ULONG> tags, std::vector<Bytes>& keep,
                                     std::vector<std::wstring>& texts) {
    std::vector<BYTE> array(CbNewSPropTagArray(tags.size()));
    auto* columns = reinterpret_cast<SPropTagArray*>(array.data());
    columns->cValues = static_cast<ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) columns->aulPropTag[i] = tags[i];
    ULONG count = 0;
    SPropValue* values = nullptr;
    EXPECT_LE(0, object->GetProps(columns, 0, &count, &values));
    Freed<SPropValue> owner(values, freeBuffer_);
    std::map<ULONG, SPropValue> out;
    for (ULONG i = 0; values && i < count; ++i) {
      if (PROP_TYPE(values[i].ulPropTag) != PT_ERROR) out[values[i].ulPropTag] = Kept(values[i], keep, texts);
    }
    return out;
  }

  Posted ReadMessage(IMessage* message) {
    Posted p;
    std::vector<Bytes> keep;
    std::vector<std::wstring> texts;
    keep.reserve(100);
    texts.reserve(100);
    auto v = Values(message,
                    {PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_CONVERSATION_TOPIC_W, PR_SENDER_NAME_W,
                     PR_SENT_REPRESENTING_NAME_W, PR_SENDER_ENTRYID, PR_SENDER_SEARCH_KEY, PR_SENT_REPRESENTING_ENTRYID,
                     PR_SENT_REPRESENTING_SEARCH_KEY, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_IMPORTANCE,
                     PR_SENSITIVITY, PR_MESSAGE_FLAGS},
                    keep, texts);
    auto text = [&](ULONG tag) { return v.count(tag) ? std::wstring(v[tag].Value.lpszW) : std::wstring(L"<none>"); };
    auto bytes = [&](ULONG tag) {
      return v.count(tag) ? Bytes(v[tag].Value.bin.lpb, v[tag].Value.bin.lpb + v[tag].Value.bin.cb) : Bytes();
    };
    auto time = [&](ULONG tag) {
      return v.count(tag) ? static_cast<LONGLONG>((static_cast<ULONGLONG>(v[tag].Value.ft.dwHighDateTime) << 32) |
                                                  v[tag].Value.ft.dwLowDateTime)
                          : 0;
    };
    p.subject = text(PR_SUBJECT_W);
    p.messageClass = text(PR_MESSAGE_CLASS_W);
    p.topic = text(PR_CONVERSATION_TOPIC_W);
    p.senderName = text(PR_SENDER_NAME_W);
    p.representingName = text(PR_SENT_REPRESENTING_NAME_W);
    p.senderEntryId = bytes(PR_SENDER_ENTRYID);
    p.senderSearchKey = bytes(PR_SENDER_SEARCH_KEY);
    p.representingEntryId = bytes(PR_SENT_REPRESENTING_ENTRYID);
    p.representingSearchKey = bytes(PR_SENT_REPRESENTING_SEARCH_KEY);
    p.submitted = time(PR_CLIENT_SUBMIT_TIME);
    p.delivered = time(PR_MESSAGE_DELIVERY_TIME);
    p.importance = v.count(PR_IMPORTANCE) ? v[PR_IMPORTANCE].Value.l : -1;
    p.sensitivity = v.count(PR_SENSITIVITY) ? v[PR_SENSITIVITY].Value.l : -1;
    p.read = v.count(PR_MESSAGE_FLAGS) && (v[PR_MESSAGE_FLAGS].Value.l & MSGFLAG_READ);

    UniqueInterface<IAttach> attachment;
    EXPECT_EQ(S_OK, message->OpenAttach(0, nullptr, 0, attachment.put()));
    if (!attachment) return p;
    auto a = Values(attachment.get(),
                    {PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_ATTACH_EXTENSION_W, PR_DISPLAY_NAME_W,
                     PR_ATTACH_METHOD},
                    keep, texts);
    auto attachmentText = [&](ULONG tag) {
      return a.count(tag) ? std::wstring(a[tag].Value.lpszW) : std::wstring(L"<none>");
    };
    p.longName = attachmentText(PR_ATTACH_LONG_FILENAME_W);
    p.shortName = attachmentText(PR_ATTACH_FILENAME_W);
    p.extension = attachmentText(PR_ATTACH_EXTENSION_W);
    p.attachmentDisplayName = attachmentText(PR_DISPLAY_NAME_W);
    p.method = a.count(PR_ATTACH_METHOD) ? a[PR_ATTACH_METHOD].Value.l : -1;
    UniqueInterface<IStream> stream;
    EXPECT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0,
                                             reinterpret_cast<IUnknown**>(stream.put())));
    BYTE piece[65536];
    ULONG read = 0;
    while (stream && SUCCEEDED(stream->Read(piece, sizeof piece, &read)) && read > 0) {
      p.data.insert(p.data.end(), piece, piece + read);
    }
    return p;
  }

  decltype(&MAPIInitialize) initialize_;
  decltype(&MAPIUninitialize) uninitialize_;
  decltype(&MAPILogonEx) logon_;
  decltype(&MAPIFreeBuffer) freeBuffer_;
  decltype(&HrGetOneProp) getOneProp_;
  decltype(&HrQueryAllRows) queryAllRows_;
  decltype(&FreeProws) freeRows_;
};

}  // namespace kvtest
