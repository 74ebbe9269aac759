// IMessage, IAttach and their streams as the module uses them: postings read
// back in a later session, the contents tables they appear in, values the
// provider refuses one by one, messages that are never saved, and a saved
// message's identity.
#include "provider_fixture.h"

#include <algorithm>
#include <cstdio>

#include "folder_index.h"
#include "posting_client.h"
#include "store_layout.h"

namespace provider_test {

// Postings made as the module makes them.
using namespace posting_client;
namespace {

using Message = UniqueInterface<IMessage>;
using Attachment = UniqueInterface<IAttach>;
using Stream = UniqueInterface<IStream>;

// The message values the module sets, in its order.
constexpr ULONG kMessageTags[] = {
    PR_SUBJECT_W,         PR_MESSAGE_CLASS_W,          PR_CLIENT_SUBMIT_TIME,           PR_MESSAGE_DELIVERY_TIME,
    PR_SENSITIVITY,       PR_CONVERSATION_TOPIC_W,     PR_SENDER_ENTRYID,               PR_SENDER_NAME_W,
    PR_SENDER_SEARCH_KEY, PR_SENT_REPRESENTING_ENTRYID, PR_SENT_REPRESENTING_NAME_W,    PR_SENT_REPRESENTING_SEARCH_KEY,
    PR_DISPLAY_NAME_W,    PR_COMMENT_W,                PR_BODY_W,                       PR_IMPORTANCE};
constexpr ULONG kAttachmentTags[] = {PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_METHOD, PR_ATTACH_EXTENSION_W,
                                     PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W};
constexpr char kNotFound[] = "error 0x8004010F";

std::string Hex(const void* data, size_t size) {
  std::string out;
  char digits[3];
  for (size_t i = 0; i < size; ++i) {
    snprintf(digits, sizeof digits, "%02x", static_cast<const uint8_t*>(data)[i]);
    out += digits;
  }
  return out;
}

// A value in full, typed, so that "expected X, got Y" says everything.
std::string Render(const SPropValue& value) {
  char buffer[64];
  switch (PROP_TYPE(value.ulPropTag)) {
    case PT_UNICODE: return "W:" + provider::ToUtf8(value.Value.lpszW);
    case PT_STRING8: return std::string("A:") + value.Value.lpszA;
    case PT_LONG: snprintf(buffer, sizeof buffer, "L:%ld", static_cast<long>(value.Value.l)); return buffer;
    case PT_BOOLEAN: return value.Value.b ? "B:true" : "B:false";
    case PT_SYSTIME:
      snprintf(buffer, sizeof buffer, "T:%08lx%08lx", static_cast<unsigned long>(value.Value.ft.dwHighDateTime),
               static_cast<unsigned long>(value.Value.ft.dwLowDateTime));
      return buffer;
    case PT_BINARY: return "X:" + Hex(value.Value.bin.lpb, value.Value.bin.cb);
    case PT_ERROR: snprintf(buffer, sizeof buffer, "error 0x%08lX", static_cast<unsigned long>(value.Value.err)); return buffer;
    default: return "type " + std::to_string(PROP_TYPE(value.ulPropTag));
  }
}

std::string W(const std::wstring& text) { return "W:" + provider::ToUtf8(text); }
std::string X(const std::vector<uint8_t>& bytes) { return "X:" + Hex(bytes.data(), bytes.size()); }
std::string T(const FILETIME& time) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "T:%08lx%08lx", static_cast<unsigned long>(time.dwHighDateTime),
           static_cast<unsigned long>(time.dwLowDateTime));
  return buffer;
}

// What GetProps of kMessageTags must give back for a posting.
std::vector<std::string> ExpectedMessageValues(const Posting& p) {
  auto optional = [](const std::wstring& text) { return text.empty() ? std::string(kNotFound) : W(text); };
  std::string senderId = p.withSender ? X(p.senderEntryId) : kNotFound;
  std::string senderName = p.withSender ? W(p.senderName) : kNotFound;
  std::string senderKey = p.withSender ? X(p.senderSearchKey) : kNotFound;
  return {W(p.postedName), W(p.messageClass), T(p.time),     T(p.time),          "L:0",         W(p.postedName),
          senderId,        senderName,        senderKey,     senderId,           senderName,    senderKey,
          optional(p.displayName), optional(p.comment), optional(p.body), "L:1"};
}

std::vector<uint8_t> Pattern(size_t size, unsigned seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = 0x2545F491u ^ seed;
  for (uint8_t& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

template <size_t N>
std::vector<std::string> GetRendered(IMAPIProp* object, const ULONG (&tags)[N], HRESULT* result = nullptr) {
  std::vector<BYTE> storage(CbNewSPropTagArray(N));
  LPSPropTagArray array = reinterpret_cast<LPSPropTagArray>(storage.data());
  array->cValues = N;
  for (size_t i = 0; i < N; ++i) array->aulPropTag[i] = tags[i];
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  HRESULT hr = object->GetProps(array, 0, &count, &raw);
  if (result) *result = hr;
  Buffer<SPropValue> values(raw);
  std::vector<std::string> out;
  for (ULONG i = 0; values && i < count; ++i) out.push_back(Render(values.get()[i]));
  return out;
}

std::string GetOne(IMAPIProp* object, ULONG tag) {
  const ULONG tags[] = {tag};
  std::vector<std::string> values = GetRendered(object, tags);
  return values.empty() ? "nothing" : values[0];
}

std::vector<uint8_t> ReadStreamWhole(IStream* stream) {
  std::vector<uint8_t> bytes;
  BYTE buffer[4096];
  for (;;) {
    ULONG read = 0xdeadbeef;
    if (FAILED(stream->Read(buffer, sizeof buffer, &read)) || read == 0 || read > sizeof buffer) break;
    bytes.insert(bytes.end(), buffer, buffer + read);
  }
  return bytes;
}

class MessagesTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"});
    ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports_));
    OpenReports();
  }
  void TearDown() override {
    folder_.reset();
    store_.reset();
    session_.reset();
    ProviderTest::TearDown();
  }
  void OpenReports() {
    folder_.reset();
    store_.reset();
    session_ = LogonOrFail(L"Work");
    store_ = OpenStore(session_.get(), L"Mailbox");
    folder_ = OpenPath(store_.get(), {L"Reports"}, MAPI_MODIFY);
    ASSERT_TRUE(folder_);
  }

  Posting Full(const std::wstring& name, size_t size) {
    Posting p;
    p.postedName = name;
    SYSTEMTIME posted = {2024, 3, 5, 15, 12, 34, 56, 0};
    SystemTimeToFileTime(&posted, &p.time);
    p.withSender = true;
    p.senderEntryId = {0, 0, 0, 0, 0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00, 0x2B};
    p.senderName = L"Berichtsdienst K\u00f6ln";
    p.senderSearchKey = {'S', 'M', 'T', 'P', ':', 'B', '@', 'X', 0};
    p.bytes = Pattern(size, static_cast<unsigned>(size));
    return p;
  }

  std::vector<std::wstring> MessageFiles() { return MessageFilesOf(reports_.directory); }

  std::vector<std::vector<std::string>> Contents(ULONG flags, const std::vector<ULONG>& columns) {
    Table table;
    EXPECT_EQ(S_OK, folder_->GetContentsTable(flags, table.put()));
    if (!table) return {};
    return ReadAll(table.get(), columns);
  }

  std::pair<LONG, LONG> Counts() {
    SizedSPropTagArray(2, tags) = {2, {PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    EXPECT_EQ(S_OK, folder_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw));
    Buffer<SPropValue> values(raw);
    return values ? std::make_pair(values.get()[0].Value.l, values.get()[1].Value.l) : std::make_pair(-1L, -1L);
  }

  Message OpenSaved(IMAPISession* session, const std::vector<uint8_t>& entryId, ULONG flags = 0,
                    HRESULT expected = S_OK) {
    Message message;
    ULONG type = 0;
    EXPECT_EQ(expected, session->OpenEntry(static_cast<ULONG>(entryId.size()),
                                           reinterpret_cast<LPENTRYID>(const_cast<uint8_t*>(entryId.data())),
                                           &IID_IMessage, flags, &type, message.putUnknown()));
    if (message) { EXPECT_EQ(static_cast<ULONG>(MAPI_MESSAGE), type); }
    return message;
  }

  Message NewMessage(ULONG flags = 0) {
    Message message;
    EXPECT_EQ(S_OK, folder_->CreateMessage(nullptr, flags, message.put()));
    return message;
  }

  provider::FolderRecord reports_;
  Session session_;
  Store store_;
  Folder folder_;
};

TEST_F(MessagesTest, PostingsReadBackIdenticallyInANewSession) {
  struct Case {
    const char* what;
    Posting posting;
  };
  std::vector<Case> cases = {
      {"empty attachment", Full(L"Leer.txt", 0)},
      {"8192 bytes: two full writes and an empty read", Full(L"QuarterlyResults.pdf", 8192)},
      {"4097 bytes", Full(L"Odd.bin", 4097)},
      {"300 KiB, above what GetProps hands out", Full(L"Large Report.xlsx", 307323)},
  };
  cases.push_back({"no identity: seven values", Full(L"noextension", 1)});
  cases.back().posting.withSender = false;
  cases.push_back({"report template with its texts", Full(L"Monthly.rpt", 5000)});
  cases.back().posting.associated = true;
  cases.back().posting.messageClass = L"IPM.ZORLAN.REPORT.TEMPLATE";
  cases.back().posting.displayName = L"Monthly \u00dcbersicht";
  cases.back().posting.comment = L"From the report file";
  cases.back().posting.body = L"Line one\r\nLine two \u20ac";

  std::vector<std::vector<uint8_t>> entryIds(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    ASSERT_EQ(S_OK, PostThroughMapi(folder_.get(), cases[i].posting, &entryIds[i]));
    EXPECT_EQ(72u, entryIds[i].size());
  }
  folder_.reset();
  store_.reset();
  session_.reset();

  Session later = LogonOrFail(L"Work");
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const Posting& p = cases[i].posting;
    Message message = OpenSaved(later.get(), entryIds[i]);
    ASSERT_TRUE(message);
    EXPECT_EQ(ExpectedMessageValues(p), GetRendered(message.get(), kMessageTags));
    EXPECT_EQ(X(entryIds[i]), GetOne(message.get(), PR_ENTRYID));
    EXPECT_EQ("B:true", GetOne(message.get(), PR_HASATTACH));
    EXPECT_EQ(p.associated ? "L:80" : "L:16", GetOne(message.get(), PR_MESSAGE_FLAGS)) << "unread, with attachment";

    Table attachments;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, attachments.put()));
    auto rows = ReadAll(attachments.get(), {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME_A, PR_ATTACH_METHOD});
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(provider::ToUtf8(p.postedName), rows[0][1]);
    EXPECT_EQ("1", rows[0][2]);

    Attachment attachment;
    ASSERT_EQ(S_OK, message->OpenAttach(static_cast<ULONG>(std::stoul(rows[0][0])), nullptr, 0, attachment.put()));
    std::vector<std::string> expectedAttachment = {W(p.postedName), "L:1", W(ExtensionOf(p.postedName)),
                                                   W(ShortNameOf(p.postedName)), W(p.postedName)};
    EXPECT_EQ(expectedAttachment, GetRendered(attachment.get(), kAttachmentTags));
    std::string inlineData = GetOne(attachment.get(), PR_ATTACH_DATA_BIN);
    if (p.bytes.size() <= 64 * 1024) {
      EXPECT_EQ(X(p.bytes), inlineData);
    } else {
      EXPECT_EQ("error 0x8007000E", inlineData) << "large values are read through a stream";
    }

    Stream stream;
    ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, stream.putUnknown()));
    STATSTG stat = {};
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(p.bytes.size(), stat.cbSize.QuadPart);
    EXPECT_TRUE(p.bytes == ReadStreamWhole(stream.get())) << "attachment bytes differ";
  }
}

TEST_F(MessagesTest, ContentsTablesShowTheIndexedColumnsAndCount) {
  Posting document = Full(L"Sales.pdf", 8192);
  Posting report = Full(L"Monthly.rpt", 100);
  report.associated = true;
  report.messageClass = L"IPM.ZORLAN.REPORT.TEMPLATE";
  report.displayName = L"Monthly Sales";
  std::vector<uint8_t> documentId, reportId;
  ASSERT_EQ(S_OK, PostThroughMapi(folder_.get(), document, &documentId));
  ASSERT_EQ(S_OK, PostThroughMapi(folder_.get(), report, &reportId));

  auto sizeOf = [this](const std::vector<uint8_t>& entryId) {
    provider::ObjectId id;
    std::copy(entryId.begin() + 56, entryId.end(), id.begin());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(provider::MessagePath(reports_.directory, id).c_str(),
                         GetFileExInfoStandard, &data);
    return std::to_string(data.nFileSizeLow);
  };
  const std::vector<ULONG> columns = {PR_ENTRYID,         PR_SUBJECT_A,        PR_SUBJECT_W,
                                      PR_MESSAGE_CLASS_A, PR_DISPLAY_NAME_A,   PR_DISPLAY_NAME_W,
                                      PR_MESSAGE_SIZE,    PR_HASATTACH,        PR_MESSAGE_FLAGS};
  std::vector<std::vector<std::string>> expectedContents = {
      {"binary 72", "Sales.pdf", "Sales.pdf", "IPM.DOCUMENT.PDF", kNotFound, kNotFound, sizeOf(documentId), "true", "16"}};
  std::vector<std::vector<std::string>> expectedAssociated = {{"binary 72", "Monthly.rpt", "Monthly.rpt",
                                                               "IPM.ZORLAN.REPORT.TEMPLATE", "Monthly Sales",
                                                               "Monthly Sales", sizeOf(reportId), "true", "80"}};
  EXPECT_EQ(expectedContents, Contents(0, columns)) << "the report must not be among the contents";
  EXPECT_EQ(expectedAssociated, Contents(MAPI_ASSOCIATED, columns));
  EXPECT_NE("0", expectedContents[0][6]);
  EXPECT_EQ(std::make_pair(1L, 1L), Counts());

  // Entry identifiers and times, exactly.
  Table table;
  ASSERT_EQ(S_OK, folder_->GetContentsTable(MAPI_UNICODE, table.put()));
  SizedSPropTagArray(3, tags) = {3, {PR_ENTRYID, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME}};
  ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&tags), 0));
  SRowSet* raw = nullptr;
  ASSERT_EQ(S_OK, table->QueryRows(10, 0, &raw));
  Rows rows(raw);
  ASSERT_EQ(1u, rows->cRows);
  EXPECT_EQ(X(documentId), Render(rows->aRow[0].lpProps[0]));
  EXPECT_EQ(T(document.time), Render(rows->aRow[0].lpProps[1]));
  EXPECT_EQ(T(document.time), Render(rows->aRow[0].lpProps[2]));
}

// The module frees the problem array unread: what matters is that refused
// values do not stop the others and that the array is one buffer.
TEST_F(MessagesTest, SetPropsRefusesSinglePropertiesWithAProblemArray) {
  Message message = NewMessage();
  ASSERT_TRUE(message);
  SPropValue values[4] = {};
  values[0].ulPropTag = PR_SUBJECT_W;
  values[0].Value.lpszW = const_cast<wchar_t*>(L"Kept");
  values[1].ulPropTag = PR_MESSAGE_SIZE;  // computed
  values[2].ulPropTag = PROP_TAG(PT_MV_LONG, 0x6601);  // a type a message file here cannot hold
  values[3].ulPropTag = PR_IMPORTANCE;
  values[3].Value.l = IMPORTANCE_HIGH;
  LPSPropProblemArray raw = reinterpret_cast<LPSPropProblemArray>(0xdeadbeef);
  ASSERT_EQ(S_OK, message->SetProps(4, values, &raw));
  EXPECT_EQ(1, KvMapiOutstandingBuffers());
  Buffer<SPropProblemArray> problems(raw);
  ASSERT_TRUE(problems);
  ASSERT_EQ(2u, problems->cProblem);
  EXPECT_EQ((std::vector<ULONG>{1, 2}), (std::vector<ULONG>{problems->aProblem[0].ulIndex, problems->aProblem[1].ulIndex}));
  EXPECT_EQ(MAPI_E_COMPUTED, problems->aProblem[0].scode);
  EXPECT_EQ(MAPI_E_INVALID_TYPE, problems->aProblem[1].scode);
  const ULONG check[] = {PR_SUBJECT_W, PR_IMPORTANCE, PROP_TAG(PT_MV_LONG, 0x6601)};
  EXPECT_EQ((std::vector<std::string>{"W:Kept", "L:2", kNotFound}), GetRendered(message.get(), check));
}

TEST_F(MessagesTest, MessagesNeverSavedLeaveNothing) {
  struct Case {
    const char* what;
    ULONG flags;
    bool attachment;
    bool attachmentSaved;
    bool streamOutlivesMessage;
  } cases[] = {
      {"values only", 0, false, false, false},
      {"a saved attachment with data", 0, true, true, false},
      {"an associated message with an unsaved attachment", MAPI_ASSOCIATED, true, false, false},
      {"the data stream released after the message", 0, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Stream stream;
    {
      Message message = NewMessage(c.flags);
      ASSERT_TRUE(message);
      SPropValue subject = {};
      subject.ulPropTag = PR_SUBJECT_W;
      subject.Value.lpszW = const_cast<wchar_t*>(L"Never saved");
      ASSERT_EQ(S_OK, message->SetProps(1, &subject, nullptr));
      if (c.attachment) {
        Attachment attachment;
        ULONG number = 0;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, attachment.put()));
        ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                                 MAPI_CREATE | MAPI_MODIFY, stream.putUnknown()));
        std::vector<uint8_t> data = Pattern(100000, 7);
        ASSERT_EQ(S_OK, stream->Write(data.data(), static_cast<ULONG>(data.size()), nullptr));
        if (!c.streamOutlivesMessage) stream.reset();
        if (c.attachmentSaved) { EXPECT_EQ(S_OK, attachment->SaveChanges(0)); }
      }
      EXPECT_EQ(1u, MessageFiles().size()) << "the message is written aside while it is composed";
    }
    stream.reset();
    EXPECT_EQ(std::vector<std::wstring>(), MessageFiles());
    EXPECT_EQ(0u, Contents(0, {PR_SUBJECT_A}).size());
    EXPECT_EQ(0u, Contents(MAPI_ASSOCIATED, {PR_SUBJECT_A}).size());
    EXPECT_EQ(std::make_pair(0L, 0L), Counts());
  }
}

TEST_F(MessagesTest, ASavedMessageHasAnIdentityAndIsSavedOnce) {
  Message message = NewMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(kNotFound, GetOne(message.get(), PR_ENTRYID)) << "no identity before the save";
  EXPECT_EQ("L:1", GetOne(message.get(), PR_MESSAGE_FLAGS)) << "a new message starts read";
  ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
  std::string entryId = GetOne(message.get(), PR_ENTRYID);
  EXPECT_EQ(0u, entryId.find("X:"));
  EXPECT_EQ(S_OK, message->SaveChanges(0)) << "saving again changes nothing";
  EXPECT_EQ(1u, Contents(0, {PR_ENTRYID}).size()) << "and adds nothing";

  std::vector<uint8_t> id;
  provider::FromHex(entryId.substr(2), id);
  Message reopened = OpenSaved(session_.get(), id, MAPI_BEST_ACCESS);
  ASSERT_TRUE(reopened);
  EXPECT_EQ("L:0", GetOne(reopened.get(), PR_ACCESS_LEVEL)) << "a saved message is read-only";
  id[60] ^= 0xFF;  // an entry identifier whose message is not there
  Message missing = OpenSaved(session_.get(), id, 0, MAPI_E_NOT_FOUND);
  EXPECT_FALSE(missing);
}

TEST_F(MessagesTest, PropertyStreamsWriteFrontToBackAndReadAnywhere) {
  Message message = NewMessage();
  ASSERT_TRUE(message);
  Attachment attachment;
  ULONG number = 0;
  ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, attachment.put()));
  Stream none;
  EXPECT_EQ(MAPI_E_NOT_FOUND, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE, MAPI_MODIFY,
                                                      none.putUnknown()))
      << "without MAPI_CREATE the value must exist";
  EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStorage, 0,
                                                                     MAPI_CREATE | MAPI_MODIFY, none.putUnknown()));
  Stream writer;
  ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                           MAPI_CREATE | MAPI_MODIFY, writer.putUnknown()));
  EXPECT_EQ(MAPI_E_BUSY, message->OpenProperty(PR_BODY_W, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                               MAPI_CREATE | MAPI_MODIFY, none.putUnknown()))
      << "one value is written at a time";
  std::vector<uint8_t> data = Pattern(10000, 3);
  ULONG written = 0;
  ASSERT_EQ(S_OK, writer->Write(data.data(), 6000, &written));
  EXPECT_EQ(6000u, written);
  ASSERT_EQ(S_OK, writer->Write(data.data() + 6000, 4000, nullptr));
  struct SeekCase {
    LONGLONG move;
    DWORD origin;
    HRESULT result;
  } seeks[] = {{0, STREAM_SEEK_CUR, S_OK}, {0, STREAM_SEEK_END, S_OK}, {10000, STREAM_SEEK_SET, S_OK},
               {0, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION}, {-1, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION}};
  for (const SeekCase& s : seeks) {
    SCOPED_TRACE(s.move);
    LARGE_INTEGER move;
    move.QuadPart = s.move;
    ULARGE_INTEGER position;
    position.QuadPart = 0xdeadbeef;
    EXPECT_EQ(s.result, writer->Seek(move, s.origin, &position));
    if (s.result == S_OK) { EXPECT_EQ(10000u, position.QuadPart); }
  }
  BYTE byte = 0;
  ULONG read = 0xdeadbeef;
  EXPECT_EQ(STG_E_ACCESSDENIED, writer->Read(&byte, 1, &read));
  EXPECT_EQ(0u, read);
  STATSTG stat = {};
  ASSERT_EQ(S_OK, writer->Stat(&stat, STATFLAG_NONAME));
  EXPECT_EQ(10000u, stat.cbSize.QuadPart);
  writer.reset();
  LPSPropTagArray rawTags = nullptr;
  ASSERT_EQ(S_OK, attachment->GetPropList(0, &rawTags));
  Buffer<SPropTagArray> tags(rawTags);
  EXPECT_NE(tags->aulPropTag + tags->cValues, std::find(tags->aulPropTag, tags->aulPropTag + tags->cValues, PR_ATTACH_DATA_BIN))
      << "a streamed value is listed";
  EXPECT_EQ("L:10000", GetOne(attachment.get(), PR_ATTACH_SIZE));
  EXPECT_EQ(MAPI_E_NO_SUPPORT, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, none.putUnknown()))
      << "streamed data is read back once the message is saved";
  ASSERT_EQ(S_OK, attachment->SaveChanges(0));
  ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READONLY));

  // The same objects read the saved file.
  Stream reader;
  ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, reader.putUnknown()));
  LARGE_INTEGER move;
  ULARGE_INTEGER position;
  move.QuadPart = -100;
  ASSERT_EQ(S_OK, reader->Seek(move, STREAM_SEEK_END, &position));
  EXPECT_EQ(9900u, position.QuadPart);
  BYTE tail[200];
  ASSERT_EQ(S_OK, reader->Read(tail, sizeof tail, &read));
  ASSERT_EQ(100u, read) << "a read at the end is short, not an error";
  EXPECT_TRUE(std::equal(tail, tail + 100, data.begin() + 9900));
  move.QuadPart = 4096;
  ASSERT_EQ(S_OK, reader->Seek(move, STREAM_SEEK_SET, &position));
  ASSERT_EQ(S_OK, reader->Read(tail, 10, &read));
  EXPECT_TRUE(std::equal(tail, tail + 10, data.begin() + 4096));
  EXPECT_EQ(STG_E_ACCESSDENIED, reader->Write(tail, 1, nullptr));
}

TEST_F(MessagesTest, AFailingStreamWriteFailsThePostingAndLeavesNothing) {
  ASSERT_EQ(S_OK, KvMapiInjectFault("IStream::Write", 3, MAPI_E_DISK_ERROR));
  Posting posting = Full(L"Broken.pdf", 5 * 4096);
  EXPECT_EQ(MAPI_E_DISK_ERROR, PostThroughMapi(folder_.get(), posting));
  EXPECT_EQ(std::vector<std::wstring>(), MessageFiles());
  EXPECT_EQ(std::make_pair(0L, 0L), Counts());
  // The next posting is not affected.
  EXPECT_EQ(S_OK, PostThroughMapi(folder_.get(), posting));
  EXPECT_EQ(std::make_pair(1L, 0L), Counts());
}

}  // namespace
}  // namespace provider_test
