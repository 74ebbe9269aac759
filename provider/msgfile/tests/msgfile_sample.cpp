// Writes a sample message file the way a posting fills one, for readers we
// did not write to check:
//   msgfile_sample <out.msg> <attachment source file>
#include <windows.h>

#include <mapidefs.h>
#include <mapitags.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include <kvcommon/unique_resource.h>
#include <msgfile/message_writer.h>

using msgfile::MessageWriter;
using msgfile::ObjectRef;

namespace {

SPropValue Text(ULONG tag, const wchar_t* text) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.lpszW = const_cast<wchar_t*>(text);
  return value;
}
SPropValue Long(ULONG tag, LONG number) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.l = number;
  return value;
}
SPropValue Binary(ULONG tag, std::vector<BYTE>* bytes) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.bin.cb = static_cast<ULONG>(bytes->size());
  value.Value.bin.lpb = bytes->data();
  return value;
}
SPropValue Time(ULONG tag, const FILETIME& time) {
  SPropValue value = {};
  value.ulPropTag = tag;
  value.Value.ft = time;
  return value;
}

constexpr ULONG kAttachData = PROP_TAG(PT_BINARY, 0x3701);

HRESULT SetAll(MessageWriter* writer, ObjectRef object, const SPropValue* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const HRESULT hr = writer->SetProperty(object, values[i]);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The message a posting of "Quartalsbericht Übersicht.pdf" makes, and an
// empty second attachment.
HRESULT WriteMessageProperties(MessageWriter* writer, ULONG* attachment) {
  const wchar_t* name = L"Quartalsbericht \u00dcbersicht.pdf";
  SYSTEMTIME posted = {2024, 3, 5, 15, 12, 34, 56, 0};  // Friday, 15 March 2024, 12:34:56 UTC
  FILETIME time;
  SystemTimeToFileTime(&posted, &time);
  std::vector<BYTE> entryId = {0, 0, 0, 0, 0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00};
  std::vector<BYTE> searchKey = {'E', 'X', ':', 'B', 'E', 'R', 'I', 'C', 'H', 'T', 0};
  const SPropValue message[] = {
      Text(PR_SUBJECT_W, name),
      Text(PR_MESSAGE_CLASS_W, L"IPM.DOCUMENT.PDF"),
      Time(PR_CLIENT_SUBMIT_TIME, time),
      Time(PR_MESSAGE_DELIVERY_TIME, time),
      Long(PR_SENSITIVITY, 0),
      Text(PR_CONVERSATION_TOPIC_W, name),
      Binary(PR_SENDER_ENTRYID, &entryId),
      Text(PR_SENDER_NAME_W, L"Berichtsdienst K\u00f6ln"),
      Binary(PR_SENDER_SEARCH_KEY, &searchKey),
      Binary(PR_SENT_REPRESENTING_ENTRYID, &entryId),
      Text(PR_SENT_REPRESENTING_NAME_W, L"Berichtsdienst K\u00f6ln"),
      Binary(PR_SENT_REPRESENTING_SEARCH_KEY, &searchKey),
      Text(PR_BODY_W, L"Automatisch erstellter Bericht.\r\nZweite Zeile: \u00e4\u00f6\u00fc\u00df."),
      Long(PR_IMPORTANCE, 1),
  };
  HRESULT hr = SetAll(writer, ObjectRef::Message(), message, sizeof message / sizeof message[0]);
  if (FAILED(hr)) return hr;

  hr = writer->CreateAttachment(attachment);
  if (FAILED(hr)) return hr;
  const SPropValue first[] = {
      Text(PR_ATTACH_LONG_FILENAME_W, name),       Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
      Text(PR_ATTACH_EXTENSION_W, L"pdf"),          Text(PR_ATTACH_FILENAME_W, L"Quartals.pdf"),
      Text(PR_DISPLAY_NAME_W, name),
  };
  hr = SetAll(writer, ObjectRef::Attachment(*attachment), first, sizeof first / sizeof first[0]);
  if (FAILED(hr)) return hr;

  ULONG empty = 0;
  hr = writer->CreateAttachment(&empty);
  if (FAILED(hr)) return hr;
  const SPropValue second[] = {
      Text(PR_ATTACH_LONG_FILENAME_W, L"leer.txt"), Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
      Text(PR_ATTACH_EXTENSION_W, L"txt"),           Text(PR_ATTACH_FILENAME_W, L"leer.txt"),
  };
  hr = SetAll(writer, ObjectRef::Attachment(empty), second, sizeof second / sizeof second[0]);
  if (FAILED(hr)) return hr;
  hr = writer->BeginValueStream(ObjectRef::Attachment(empty), kAttachData);
  if (FAILED(hr)) return hr;
  return writer->EndValueStream();
}

int Sample(const wchar_t* out, const wchar_t* source) {
  MessageWriter writer;
  ULONG attachment = 0;
  HRESULT hr = writer.Create(out);
  if (SUCCEEDED(hr)) hr = WriteMessageProperties(&writer, &attachment);
  if (SUCCEEDED(hr)) hr = writer.BeginValueStream(ObjectRef::Attachment(attachment), kAttachData);
  if (SUCCEEDED(hr)) {
    kvcommon::UniqueFile file(
        CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) hr = HRESULT_FROM_WIN32(GetLastError());
    // The posting's loop: reads of 4096 bytes, each written on at once.
    BYTE buffer[4096];
    DWORD read = sizeof buffer;
    while (SUCCEEDED(hr) && read == sizeof buffer) {
      if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
      } else if (read > 0) {
        hr = writer.WriteValueStream(buffer, read);
      }
    }
  }
  if (SUCCEEDED(hr)) hr = writer.EndValueStream();
  if (SUCCEEDED(hr)) hr = writer.Finish();
  if (FAILED(hr)) {
    std::fprintf(stderr, "msgfile_sample: writing failed with 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  int result = 2;
  if (args && count == 3) {
    result = Sample(args[1], args[2]);
  } else {
    std::fprintf(stderr, "usage: msgfile_sample <out.msg> <attachment source>\n");
  }
  LocalFree(args);
  return result;
}
