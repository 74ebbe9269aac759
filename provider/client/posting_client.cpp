#include "posting_client.h"

#include <mapiutil.h>

#include <algorithm>

#include <kvcommon/mapi_owners.h>
#include <kvcommon/unique_resource.h>

namespace posting_client {
namespace {

using kvcommon::UniqueInterface;

SPropValue Text(ULONG tag, const std::wstring& text) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.lpszW = const_cast<wchar_t*>(text.c_str());
  return value;
}

SPropValue Long(ULONG tag, LONG number) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.l = number;
  return value;
}

SPropValue Time(ULONG tag, const FILETIME& time) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.ft = time;
  return value;
}

SPropValue Binary(ULONG tag, const std::vector<uint8_t>& bytes) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.bin.cb = static_cast<ULONG>(bytes.size());
  value.Value.bin.lpb = const_cast<LPBYTE>(bytes.data());
  return value;
}

// SetProps, with the problem array freed unread.
HRESULT SetAll(IMAPIProp* object, std::vector<SPropValue>& values) {
  kvcommon::UniqueMapiBuffer<SPropProblemArray> problems;
  return object->SetProps(static_cast<ULONG>(values.size()), values.data(), problems.put());
}

HRESULT StreamData(IAttach* attachment, const Posting& posting) {
  UniqueInterface<IStream> stream;
  HRESULT hr = attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                        MAPI_CREATE | MAPI_MODIFY, reinterpret_cast<LPUNKNOWN*>(stream.put()));
  if (FAILED(hr)) return hr;
  BYTE buffer[4096];
  uint64_t total = 0;
  if (!posting.sourcePath.empty()) {
    kvcommon::UniqueFile file(CreateFileW(posting.sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    DWORD read = sizeof buffer;
    while (read == sizeof buffer) {
      if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
      if (read > 0 && FAILED(hr = stream->Write(buffer, read, nullptr))) return hr;
      total += read;
      if (posting.afterWrite) posting.afterWrite(total);
    }
    return hr;
  }
  for (size_t done = 0; done < posting.bytes.size(); done += sizeof buffer) {
    ULONG piece = static_cast<ULONG>(std::min(sizeof buffer, posting.bytes.size() - done));
    if (FAILED(hr = stream->Write(posting.bytes.data() + done, piece, nullptr))) return hr;
    total += piece;
    if (posting.afterWrite) posting.afterWrite(total);
  }
  return hr;
}

}  // namespace

std::wstring SeriesName(const std::wstring& prefix, int i) { return prefix + L"-" + std::to_wstring(i) + L".bin"; }

std::vector<uint8_t> SeriesBytes(const std::wstring& name) {
  uint32_t state = 2166136261u;
  for (wchar_t c : name) state = (state ^ static_cast<uint32_t>(c)) * 16777619u;
  std::vector<uint8_t> bytes(3000 + state % 5000);
  for (uint8_t& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

std::wstring ExtensionOf(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot + 1);
}

std::wstring ShortNameOf(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  std::wstring base = dot == std::wstring::npos ? name : name.substr(0, dot);
  std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
  return base.substr(0, 8) + extension;
}

HRESULT PostThroughMapi(IMAPIFolder* folder, const Posting& posting, std::vector<uint8_t>* entryId) {
  UniqueInterface<IMessage> message;
  HRESULT hr = folder->CreateMessage(nullptr, posting.associated ? MAPI_ASSOCIATED : 0, message.put());
  if (FAILED(hr)) return hr;
  FILETIME time = posting.time;
  if (!time.dwLowDateTime && !time.dwHighDateTime) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &time);
  }
  std::vector<SPropValue> values = {Text(PR_SUBJECT_W, posting.postedName),
                                    Text(PR_MESSAGE_CLASS_W, posting.messageClass),
                                    Time(PR_CLIENT_SUBMIT_TIME, time),
                                    Time(PR_MESSAGE_DELIVERY_TIME, time),
                                    Long(PR_SENSITIVITY, 0),
                                    Text(PR_CONVERSATION_TOPIC_W, posting.postedName)};
  if (posting.withSender) {
    values.push_back(Binary(PR_SENDER_ENTRYID, posting.senderEntryId));
    values.push_back(Text(PR_SENDER_NAME_W, posting.senderName));
    values.push_back(Binary(PR_SENDER_SEARCH_KEY, posting.senderSearchKey));
    values.push_back(Binary(PR_SENT_REPRESENTING_ENTRYID, posting.senderEntryId));
    values.push_back(Text(PR_SENT_REPRESENTING_NAME_W, posting.senderName));
    values.push_back(Binary(PR_SENT_REPRESENTING_SEARCH_KEY, posting.senderSearchKey));
  }
  if (!posting.displayName.empty()) values.push_back(Text(PR_DISPLAY_NAME_W, posting.displayName));
  if (!posting.comment.empty()) values.push_back(Text(PR_COMMENT_W, posting.comment));
  if (!posting.body.empty()) values.push_back(Text(PR_BODY_W, posting.body));
  values.push_back(Long(PR_IMPORTANCE, IMPORTANCE_NORMAL));
  if (FAILED(hr = SetAll(message.get(), values))) return hr;

  UniqueInterface<IAttach> attachment;
  ULONG number = 0;
  if (FAILED(hr = message->CreateAttach(nullptr, 0, &number, attachment.put()))) return hr;
  const std::wstring extension = ExtensionOf(posting.postedName);
  const std::wstring shortName = ShortNameOf(posting.postedName);
  std::vector<SPropValue> attachmentValues = {Text(PR_ATTACH_LONG_FILENAME_W, posting.postedName),
                                              Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                                              Text(PR_ATTACH_EXTENSION_W, extension),
                                              Text(PR_ATTACH_FILENAME_W, shortName),
                                              Text(PR_DISPLAY_NAME_W, posting.postedName)};
  if (FAILED(hr = SetAll(attachment.get(), attachmentValues))) return hr;
  if (FAILED(hr = StreamData(attachment.get(), posting))) return hr;
  attachment->SaveChanges(0);
  attachment.reset();
  message->SetReadFlag(CLEAR_READ_FLAG);
  HRESULT saved = message->SaveChanges(0);
  if (FAILED(saved)) return saved;
  if (entryId) {
    kvcommon::UniqueMapiBuffer<SPropValue> value;
    if (FAILED(hr = HrGetOneProp(message.get(), PR_ENTRYID, value.put()))) return hr;
    entryId->assign(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
  }
  return hr;
}

}  // namespace posting_client
