#include "mapi/report_posting.h"

#include <mapitags.h>

#include <cstdlib>
#include <cwchar>

#include <kvcommon/unique_resource.h>

#include "mapi/mapi_owners.h"
#include "mapi/display_name.h"
#include "mapi/interface_ids.h"
#include "mapi/mapi_table.h"
#include "platform/bridge.h"
#include "platform/wide_text.h"

static_assert(PR_SUBJECT_W == 0x0037001F && PR_MESSAGE_CLASS_W == 0x001A001F && PR_CLIENT_SUBMIT_TIME == 0x00390040 &&
                  PR_MESSAGE_DELIVERY_TIME == 0x0E060040 && PR_SENSITIVITY == 0x00360003 &&
                  PR_CONVERSATION_TOPIC_W == 0x0070001F && PR_SENDER_ENTRYID == 0x0C190102 &&
                  PR_SENDER_NAME_W == 0x0C1A001F && PR_SENDER_SEARCH_KEY == 0x0C1D0102 &&
                  PR_SENT_REPRESENTING_ENTRYID == 0x00410102 && PR_SENT_REPRESENTING_NAME_W == 0x0042001F &&
                  PR_SENT_REPRESENTING_SEARCH_KEY == 0x003B0102 && PR_DISPLAY_NAME_W == 0x3001001F &&
                  PR_COMMENT_W == 0x3004001F && PR_BODY_W == 0x1000001F && PR_IMPORTANCE == 0x00170003,
              "message property tags");
static_assert(PR_ATTACH_LONG_FILENAME_W == 0x3707001F && PR_ATTACH_METHOD == 0x37050003 &&
                  PR_ATTACH_EXTENSION_W == 0x3703001F && PR_ATTACH_FILENAME_W == 0x3704001F &&
                  PR_ATTACH_DATA_BIN == 0x37010102,
              "attachment property tags");

namespace {

// Characters of the file name part that the short name keeps.
constexpr size_t kShortNameLength = 8;

// The values a posting sets, by group, in the order they are set: the
// message's own always, the sender's all or none, each optional text when
// given, importance last; the attachment's always.
enum MessageValue : ULONG { kSubject, kClass, kSubmitTime, kDeliveryTime, kSensitivity, kTopic, kMessageValueCount };
constexpr ULONG kMessageTags[kMessageValueCount] = {PR_SUBJECT_W,          PR_MESSAGE_CLASS_W,
                                                    PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME,
                                                    PR_SENSITIVITY,        PR_CONVERSATION_TOPIC_W};
// Sender, then sent-representing: entry id, name, search key each.
enum SenderValue : ULONG { kSenderEntryId, kSenderName, kSenderSearchKey, kSenderValueCount };
constexpr ULONG kSenderTags[2 * kSenderValueCount] = {PR_SENDER_ENTRYID,           PR_SENDER_NAME_W,
                                                      PR_SENDER_SEARCH_KEY,        PR_SENT_REPRESENTING_ENTRYID,
                                                      PR_SENT_REPRESENTING_NAME_W, PR_SENT_REPRESENTING_SEARCH_KEY};
enum OptionalText : ULONG { kReportNameText, kCommentText, kBodyText, kOptionalTextCount };
constexpr ULONG kOptionalTextTags[kOptionalTextCount] = {PR_DISPLAY_NAME_W, PR_COMMENT_W, PR_BODY_W};
constexpr ULONG kClosingTags[] = {PR_IMPORTANCE};
enum AttachmentValue : ULONG {
  kLongFileName,
  kMethod,
  kExtension,
  kShortFileName,
  kAttachmentName,
  kAttachmentValueCount
};
constexpr ULONG kAttachmentTags[kAttachmentValueCount] = {
    PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_METHOD, PR_ATTACH_EXTENSION_W, PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W};

template <typename T, size_t N>
constexpr ULONG CountOf(const T (&)[N]) noexcept {
  return static_cast<ULONG>(N);
}

// Room for every value of every group: a posting cannot set more.
constexpr ULONG kMessageValueCapacity =
    CountOf(kMessageTags) + CountOf(kSenderTags) + CountOf(kOptionalTextTags) + CountOf(kClosingTags);
constexpr ULONG kAttachmentValueCapacity = CountOf(kAttachmentTags);
static_assert(kMessageValueCapacity == 16 && kAttachmentValueCapacity == 5, "value groups");

HRESULT AllocateValues(ULONG count, MAPIBuffer<SPropValue>& values) noexcept {
  return g_MAPIFunctions.MAPIAllocateBuffer(count * static_cast<ULONG>(sizeof(SPropValue)),
                                            reinterpret_cast<void**>(values.put()));
}

// Up to Capacity values in a MAPI buffer of their own, filled one at a time
// and in order. A value past the capacity is never written: it fails Set.
template <ULONG Capacity>
class PropertyValues {
 public:
  HRESULT Allocate() noexcept { return AllocateValues(Capacity, values_); }

  void Text(ULONG tag, const wchar_t* text) noexcept {
    if (SPropValue* value = Next(tag)) value->Value.lpszW = const_cast<wchar_t*>(text);
  }
  void Binary(ULONG tag, ULONG byteCount, const BYTE* bytes) noexcept {
    if (SPropValue* value = Next(tag)) {
      value->Value.bin.cb = byteCount;
      value->Value.bin.lpb = const_cast<BYTE*>(bytes);
    }
  }
  void Long(ULONG tag, LONG number) noexcept {
    if (SPropValue* value = Next(tag)) value->Value.l = number;
  }
  void Time(ULONG tag, const FILETIME& time) noexcept {
    if (SPropValue* value = Next(tag)) value->Value.ft = time;
  }

  // One SetProps call; the problem array is freed unread (a value the
  // provider refuses alone does not fail the posting).
  HRESULT Set(IMAPIProp* object) noexcept {
    if (overflowed_) return MAPI_E_CALL_FAILED;
    MAPIBuffer<SPropProblemArray> problems;
    return object->SetProps(count_, values_.get(), problems.put());
  }

 private:
  SPropValue* Next(ULONG tag) noexcept {
    if (count_ == Capacity) {
      overflowed_ = true;
      return nullptr;
    }
    SPropValue& value = values_.get()[count_++];
    value.ulPropTag = tag;
    return &value;
  }
  MAPIBuffer<SPropValue> values_;
  ULONG count_ = 0;
  bool overflowed_ = false;
};

// Stores that cannot size a stream ahead answer one of these to SetSize.
bool SizeNotSupported(HRESULT result) noexcept {
  return result == E_NOTIMPL || result == STG_E_INVALIDFUNCTION || result == MAPI_E_NO_SUPPORT;
}

// A failed ReadFile as an HRESULT: the Win32 error in the low 16 bits.
HRESULT ReadFailure() noexcept {
  const DWORD error = GetLastError();
  return error > 0 ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu)) : static_cast<HRESULT>(error);
}

}  // namespace

HRESULT PostReportFile(IMAPIFolder* folder, const PostingRequest& request) noexcept {
  if (!folder || !request.sourcePath) return E_INVALIDARG;
  MAPIInterface<IMessage> message;
  HRESULT result = folder->CreateMessage(nullptr, request.asReport ? MAPI_ASSOCIATED : 0, message.put());
  if (result < 0) return result;
  // Upper-cased in the caller's buffer; a failed conversion leaves no class.
  const wchar_t* upperClass = request.messageClass ? BridgeCharUpper(request.messageClass) : nullptr;
  result = SetMessageProperties(message.get(), upperClass, request);
  if (result < 0) return result;
  MAPIInterface<IAttach> attachment;
  ULONG attachmentNumber = 0;
  result = message->CreateAttach(nullptr, 0, &attachmentNumber, attachment.put());
  if (result < 0) return result;
  result = SetAttachmentProperties(attachment.get(), request.postedName, request.extension);
  if (result < 0) return result;
  result = StreamFileToAttachment(attachment.get(), request.sourcePath);
  if (result < 0) return result;
  message->SetReadFlag(CLEAR_READ_FLAG);  // a read flag left set changes nothing that matters
  // Without this save the message is not stored: the file was not posted.
  const HRESULT saved = message->SaveChanges(0);
  return saved < 0 ? saved : result;
}

HRESULT SetMessageProperties(IMessage* message, const wchar_t* messageClass, const PostingRequest& request) noexcept {
  const wchar_t* subject = request.postedName;
  if (!message || !subject || !messageClass) return E_INVALIDARG;
  PropertyValues<kMessageValueCapacity> values;
  HRESULT result = values.Allocate();
  if (result < 0) return result;
  SYSTEMTIME systemTime;
  GetSystemTime(&systemTime);
  FILETIME now = {};
  SystemTimeToFileTime(&systemTime, &now);

  values.Text(kMessageTags[kSubject], subject);
  values.Text(kMessageTags[kClass], messageClass);
  values.Time(kMessageTags[kSubmitTime], now);
  values.Time(kMessageTags[kDeliveryTime], now);
  values.Long(kMessageTags[kSensitivity], SENSITIVITY_NONE);
  values.Text(kMessageTags[kTopic], subject);
  const PostingSender& sender = request.sender;
  if (sender.entryId && sender.name && sender.searchKey) {
    // Sender and sent-representing: the same three values twice.
    for (ULONG first = 0; first < CountOf(kSenderTags); first += kSenderValueCount) {
      values.Binary(kSenderTags[first + kSenderEntryId], sender.entryIdCount, sender.entryId);
      values.Text(kSenderTags[first + kSenderName], sender.name);
      values.Binary(kSenderTags[first + kSenderSearchKey], sender.searchKeyCount, sender.searchKey);
    }
  }
  const wchar_t* texts[kOptionalTextCount] = {request.reportName, request.commentText, request.bodyText};
  for (ULONG i = 0; i < kOptionalTextCount; ++i) {
    if (texts[i]) values.Text(kOptionalTextTags[i], texts[i]);
  }
  values.Long(kClosingTags[0], IMPORTANCE_NORMAL);
  return values.Set(message);
}

HRESULT SetAttachmentProperties(IAttach* attachment, const wchar_t* postedName, const wchar_t* extension) noexcept {
  if (!attachment || !postedName || !extension) return E_INVALIDARG;
  PropertyValues<kAttachmentValueCapacity> values;
  HRESULT result = values.Allocate();
  if (result < 0) return result;
  wchar_t shortName[kShortFileNameCapacity] = {};
  if (!MakeShortFileName(postedName, shortName)) return E_OUTOFMEMORY;

  values.Text(kAttachmentTags[kLongFileName], postedName);
  values.Long(kAttachmentTags[kMethod], ATTACH_BY_VALUE);
  values.Text(kAttachmentTags[kExtension], extension);
  values.Text(kAttachmentTags[kShortFileName], shortName);
  values.Text(kAttachmentTags[kAttachmentName], postedName);
  return values.Set(attachment);
}

HRESULT StreamFileToAttachment(IAttach* attachment, const wchar_t* sourcePath) noexcept {
  if (!attachment || !sourcePath) return E_INVALIDARG;
  ModuleBlock<BYTE> buffer(static_cast<BYTE*>(ModuleAlloc(kReadBufferSize)));
  if (!buffer) return E_OUTOFMEMORY;
  MAPIInterface<IStream> stream;
  HRESULT result = attachment->OpenProperty(PR_ATTACH_DATA_BIN, &kStreamInterface, STGM_CREATE | STGM_WRITE,
                                            MAPI_CREATE | MAPI_MODIFY, stream.putUnknown());
  if (result < 0) return result;
  {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!OpenSourceFile(sourcePath, &handle)) {
      // A device or a pipe is no file to post: reading one can block forever.
      result = GetLastError() == ERROR_BAD_FILE_TYPE ? HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE) : E_FAIL;
    } else {
      kvcommon::UniqueFile file(handle);  // closed before the attachment is saved
      result = CopyFileToStream(file.get(), stream.get(), buffer.get());
    }
  }
  stream.reset();
  if (result >= 0) {
    // An attachment that is not saved is dropped: the posting has failed.
    const HRESULT saved = attachment->SaveChanges(0);
    if (saved < 0) result = saved;
  }
  return result;
}

HRESULT CopyFileToStream(HANDLE file, IStream* stream, BYTE* buffer) noexcept {
  // Announcing the size first lets a store refuse a file it cannot hold
  // before a byte is copied; a store without SetSize just grows the stream.
  ULARGE_INTEGER expected = {};
  LARGE_INTEGER fileSize = {};
  const bool sized = GetFileSizeEx(file, &fileSize) != 0;
  if (sized) {
    expected.QuadPart = static_cast<ULONGLONG>(fileSize.QuadPart);
    const HRESULT announced = stream->SetSize(expected);
    if (announced < 0 && !SizeNotSupported(announced)) return announced;
  }
  HRESULT result = S_OK;
  ULONGLONG copied = 0;
  DWORD read = kFileReadSize;
  while (read == kFileReadSize) {
    if (!ReadFile(file, buffer, kFileReadSize, &read, nullptr)) return ReadFailure();
    if (read > 0) {
      result = stream->Write(buffer, read, nullptr);
      if (result < 0) return result;
      copied += read;
    }
  }
  // A file that shrank while it was read must not leave announced bytes behind.
  if (sized && copied != expected.QuadPart) {
    ULARGE_INTEGER actual = {};
    actual.QuadPart = copied;
    const HRESULT trimmed = stream->SetSize(actual);
    if (trimmed < 0 && !SizeNotSupported(trimmed)) return trimmed;
  }
  return result;
}

int OpenSourceFile(const wchar_t* sourcePath, HANDLE* handle) noexcept {
  SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  kvcommon::UniqueFile file(BridgeCreateFile(sourcePath, GENERIC_READ, FILE_SHARE_READ, &security, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  *handle = INVALID_HANDLE_VALUE;
  if (!file) return 0;
  // "aux.pdf" or "NUL.txt" name devices, not files.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    file.reset();
    SetLastError(ERROR_BAD_FILE_TYPE);
    return 0;
  }
  *handle = file.release();
  return 1;
}

bool MakeShortFileName(const wchar_t* path, wchar_t* out) noexcept {
  out[0] = L'\0';
  if (!path) return true;
  // Each part fits in the path's own length.
  const size_t size = wcslen(path) + 1;
  ModuleBlock<wchar_t> parts(static_cast<wchar_t*>(ModuleAlloc(4 * size * sizeof(wchar_t))));
  if (!parts) return false;
  wchar_t* drive = parts.get();
  wchar_t* directory = drive + size;
  wchar_t* name = directory + size;
  wchar_t* extension = name + size;
  if (_wsplitpath_s(path, drive, size, directory, size, name, size, extension, size) != 0) return true;
  if (wcslen(name) > kShortNameLength) {
    // A cut between the halves of a surrogate pair would leave half a character.
    name[IsHighSurrogate(name[kShortNameLength - 1]) ? kShortNameLength - 1 : kShortNameLength] = L'\0';
  }
  // Joined again as _wmakepath joins split parts, cut to the buffer.
  size_t length = 0;
  for (const wchar_t* part : {drive, directory, name, extension}) {
    CopyWide(out + length, kShortFileNameCapacity - length, part, kShortFileNameCapacity);
    length = wcslen(out);
  }
  return true;
}

int IsDisplayNameUsed(IMAPIFolder* folder, const wchar_t* name) noexcept {
  if (!name) return 0;
  CMAPITable reports;
  if (!reports.OpenAssociatedContentsTable(folder) || !reports.table) return 0;
  // The wide name where the store serves it: two names the ANSI code page
  // cannot tell apart are not the same report.
  enum ReportColumn : ULONG { kReportDisplayName, kReportNarrowDisplayName, kReportColumnCount };
  SizedSPropTagArray(kReportColumnCount, columns) = {kReportColumnCount, {PR_DISPLAY_NAME_W, PR_DISPLAY_NAME_A}};
  if (!reports.Prepare(reinterpret_cast<const SPropTagArray*>(&columns), nullptr, nullptr)) return 0;
  while (const SRow* row = reports.NextRow()) {
    RowDisplayName displayName;
    if (!displayName.Read(*row, kReportDisplayName, kReportNarrowDisplayName)) continue;  // no display name
    if (_wcsicmp(displayName.get(), name) == 0) return 1;
  }
  return 0;
}
