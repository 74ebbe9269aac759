// A process that posts through the provider, for tests that need more than
// one process or one that dies half-way:
//   provider_test_poster post   PROFILE STORE FOLDER COUNT PREFIX   COUNT postings "PREFIX-i.bin"
//   provider_test_poster hold   PROFILE STORE FOLDER EVENT          one posting, then a second that
//                                                                   stops half-way, sets EVENT and waits
//   provider_test_poster sample PROFILE STORE FOLDER SOURCE         a document and a report of SOURCE
// FOLDER is a "#"-joined path below the top of information store. Prints
// "posted <file name>" per saved message; exit code 0 on success.
#include <windows.h>

#include <mapix.h>
#include <mapiutil.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <kvcommon/mapi_owners.h>
#include <kvcommon/unique_resource.h>

#include "posting_client.h"
#include "text.h"

namespace {

using kvcommon::UniqueHandle;
using kvcommon::UniqueInterface;
using posting_client::Posting;

using Rows = kvcommon::UniqueRowSet;

// The row of a table whose first column (a Unicode string) is name; the second column is returned.
bool FindEntry(IMAPITable* table, ULONG nameTag, const std::wstring& name, std::vector<uint8_t>& entryId) {
  SizedSPropTagArray(2, columns) = {2, {nameTag, PR_ENTRYID}};
  if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0))) return false;
  SRowSet* raw = nullptr;
  if (FAILED(table->QueryRows(1000, 0, &raw))) return false;
  Rows rows(raw);
  for (ULONG i = 0; i < rows->cRows; ++i) {
    const SPropValue* cells = rows->aRow[i].lpProps;
    if (cells[0].ulPropTag == nameTag && name == cells[0].Value.lpszW && cells[1].ulPropTag == PR_ENTRYID) {
      entryId.assign(cells[1].Value.bin.lpb, cells[1].Value.bin.lpb + cells[1].Value.bin.cb);
      return true;
    }
  }
  return false;
}

HRESULT OpenFolder(IMAPISession* session, const std::wstring& storeName, const std::wstring& path,
                   UniqueInterface<IMsgStore>& store, UniqueInterface<IMAPIFolder>& folder) {
  UniqueInterface<IMAPITable> stores;
  HRESULT hr = session->GetMsgStoresTable(MAPI_UNICODE, stores.put());
  if (FAILED(hr)) return hr;
  std::vector<uint8_t> id;
  if (!FindEntry(stores.get(), PR_DISPLAY_NAME_W, storeName, id)) return MAPI_E_NOT_FOUND;
  hr = session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                             MDB_WRITE, store.put());
  if (FAILED(hr)) return hr;
  LPSPropValue raw = nullptr;
  if (FAILED(hr = HrGetOneProp(store.get(), PR_IPM_SUBTREE_ENTRYID, &raw))) return hr;
  kvcommon::UniqueMapiBuffer<SPropValue> top(raw);
  id.assign(top->Value.bin.lpb, top->Value.bin.lpb + top->Value.bin.cb);
  size_t pos = 0;
  for (;;) {
    ULONG type = 0;
    folder.reset();
    hr = store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr, MAPI_MODIFY,
                          &type, reinterpret_cast<LPUNKNOWN*>(folder.put()));
    if (FAILED(hr) || pos >= path.size()) return hr;
    size_t end = path.find(L'#', pos);
    if (end == std::wstring::npos) end = path.size();
    UniqueInterface<IMAPITable> children;
    if (FAILED(hr = folder->GetHierarchyTable(MAPI_UNICODE, children.put()))) return hr;
    if (!FindEntry(children.get(), PR_DISPLAY_NAME_W, path.substr(pos, end - pos), id)) return MAPI_E_NOT_FOUND;
    pos = end + 1;
  }
}

void Report(HRESULT hr, const std::vector<uint8_t>& entryId) {
  if (FAILED(hr)) {
    std::printf("failed 0x%08lX\n", static_cast<unsigned long>(hr));
  } else {
    // The message's file is named after the id in the entry identifier's last 16 bytes.
    std::string hex = provider::ToHex(entryId.data() + entryId.size() - 16, 16);
    std::printf("posted %s.msg\n", hex.c_str());
  }
  std::fflush(stdout);
}

// The posting a report writer makes of a file, as document or as report.
Posting SamplePosting(const std::wstring& source, bool report) {
  Posting posting;
  posting.postedName = L"Quartalsbericht \u00dcbersicht.pdf";
  SYSTEMTIME posted = {2024, 3, 5, 15, 12, 34, 56, 0};  // Friday, 15 March 2024, 12:34:56 UTC
  SystemTimeToFileTime(&posted, &posting.time);
  posting.withSender = true;
  posting.senderEntryId = {0, 0, 0, 0, 0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00};
  posting.senderName = L"Berichtsdienst K\u00f6ln";
  posting.senderSearchKey = {'E', 'X', ':', 'B', 'E', 'R', 'I', 'C', 'H', 'T', 0};
  posting.sourcePath = source;
  if (report) {
    posting.associated = true;
    posting.messageClass = L"IPM.ZORLAN.REPORT.TEMPLATE";
    posting.displayName = L"Quartals\u00fcbersicht";
    posting.comment = L"Umsatz je Region";
    posting.body = L"Automatisch erstellter Bericht.\r\nZweite Zeile: \u00e4\u00f6\u00fc\u00df.";
  }
  return posting;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.size() < 5) return 2;
  const std::wstring& mode = args[0];
  UniqueInterface<IMAPISession> session;
  HRESULT hr = MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(args[1].c_str())), nullptr,
                           MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, session.put());
  UniqueInterface<IMsgStore> store;
  UniqueInterface<IMAPIFolder> folder;
  if (SUCCEEDED(hr)) hr = OpenFolder(session.get(), args[2], args[3], store, folder);
  if (FAILED(hr)) {
    std::printf("cannot open the folder: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  std::vector<uint8_t> entryId;
  if (mode == L"post" && args.size() == 6) {
    const int count = _wtoi(args[4].c_str());
    for (int i = 0; i < count; ++i) {
      Posting posting;
      posting.postedName = posting_client::SeriesName(args[5], i);
      posting.bytes = posting_client::SeriesBytes(posting.postedName);
      hr = posting_client::PostThroughMapi(folder.get(), posting, &entryId);
      Report(hr, entryId);
      if (FAILED(hr)) return 1;
    }
    return 0;
  }
  if (mode == L"hold" && args.size() == 5) {
    Posting complete;
    complete.postedName = L"complete.bin";
    complete.bytes = posting_client::SeriesBytes(complete.postedName);
    hr = posting_client::PostThroughMapi(folder.get(), complete, &entryId);
    Report(hr, entryId);
    if (FAILED(hr)) return 1;
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, args[4].c_str()));
    if (!event) return 1;
    Posting half;
    half.postedName = L"half.bin";
    half.bytes.assign(4u << 20, 0x5A);
    half.afterWrite = [&event](uint64_t written) {
      if (written < (1u << 20)) return;
      SetEvent(event.get());
      Sleep(INFINITE);  // until the test kills this process
    };
    posting_client::PostThroughMapi(folder.get(), half);
    return 1;
  }
  if (mode == L"sample" && args.size() == 5) {
    for (bool report : {false, true}) {
      hr = posting_client::PostThroughMapi(folder.get(), SamplePosting(args[4], report), &entryId);
      Report(hr, entryId);
      if (FAILED(hr)) return 1;
    }
    return 0;
  }
  return 2;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return 2;
  std::vector<std::wstring> args(argv + 1, argv + count);
  LocalFree(argv);
  try {
    if (FAILED(MAPIInitialize(nullptr))) return 3;
    int code = Run(args);
    MAPIUninitialize();
    return code;
  } catch (...) {
    return 3;
  }
}
