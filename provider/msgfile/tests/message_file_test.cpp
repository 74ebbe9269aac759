// Message files: the layout the format prescribes, as the system's
// structured storage sees it, and the same values back through our reader.
#include <windows.h>

#include <mapidefs.h>
#include <mapitags.h>

#include <gtest/gtest.h>

#include <cstring>

#include <msgfile/message_reader.h>
#include <msgfile/message_writer.h>

#include "compound_file_layout.h"
#include "test_support.h"

using msgfile::MessageReader;
using msgfile::MessageWriter;
using msgfile::ObjectRef;
using msgfile::Property;
using msgfile::StreamReader;
using namespace msgfile_test;

namespace {

constexpr ULONG kShortTag = PROP_TAG(PT_I2, 0x6601);
constexpr ULONG kBooleanTag = PROP_TAG(PT_BOOLEAN, 0x6602);
constexpr ULONG kLongLongTag = PROP_TAG(PT_I8, 0x6603);
constexpr ULONG kDoubleTag = PROP_TAG(PT_DOUBLE, 0x6604);
constexpr ULONG kAnsiTag = PROP_TAG(PT_STRING8, 0x6605);
constexpr ULONG kAttachDataTag = PROP_TAG(PT_BINARY, 0x3701);
constexpr ULONG kStoreSupportMaskTag = PROP_TAG(PT_LONG, 0x340D);
constexpr ULONG kRowIdTag = PROP_TAG(PT_LONG, 0x3000);
const CLSID kMessageClassId = {0x00020D0B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

SPropValue Value(ULONG tag) {
  SPropValue value = {};
  value.ulPropTag = tag;
  return value;
}
SPropValue Long(ULONG tag, LONG number) {
  SPropValue value = Value(tag);
  value.Value.l = number;
  return value;
}
SPropValue Text(ULONG tag, const wchar_t* text) {
  SPropValue value = Value(tag);
  value.Value.lpszW = const_cast<wchar_t*>(text);
  return value;
}
SPropValue Binary(ULONG tag, const std::vector<uint8_t>& bytes) {
  SPropValue value = Value(tag);
  value.Value.bin.cb = static_cast<ULONG>(bytes.size());
  value.Value.bin.lpb = const_cast<uint8_t*>(bytes.data());
  return value;
}

std::vector<uint8_t> Utf16(const std::wstring& text) {
  std::vector<uint8_t> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

// The 16-byte entry of tag in a property stream, after a header of headerBytes.
const uint8_t* FindEntry(const std::vector<uint8_t>& stream, size_t headerBytes, ULONG tag) {
  for (size_t at = headerBytes; at + 16 <= stream.size(); at += 16) {
    if (msgfile::cfb::Get32(&stream[at]) == tag) return &stream[at];
  }
  return nullptr;
}

// What one posting puts into a message file, as in a report being posted.
struct Posting {
  std::wstring subject = L"Quartalsbericht \u00dcbersicht.pdf";
  std::wstring messageClass = L"IPM.DOCUMENT.PDF";
  FILETIME time = {0x89ABCDEFu, 0x01DA7654u};
  std::vector<uint8_t> senderEntryId = PatternBytes(20, 7);
  std::wstring senderName = L"Berichtsdienst K\u00f6ln";
  std::vector<uint8_t> searchKey = PatternBytes(11, 8);
  std::wstring body = L"Zeile 1\r\nZeile 2";
  std::vector<uint8_t> data = PatternBytes(10000, 9);
};

void WritePosting(const std::wstring& path, const Posting& p) {
  MessageWriter writer;
  ASSERT_EQ(S_OK, writer.Create(path.c_str()));
  SPropValue time = Value(PR_CLIENT_SUBMIT_TIME);
  time.Value.ft = p.time;
  SPropValue delivery = time;
  delivery.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
  SPropValue shortValue = Value(kShortTag);
  shortValue.Value.i = -2;
  SPropValue boolean = Value(kBooleanTag);
  boolean.Value.b = 1;
  SPropValue longLong = Value(kLongLongTag);
  longLong.Value.li.QuadPart = 0x0102030405060708LL;
  SPropValue real = Value(kDoubleTag);
  real.Value.dbl = 2.5;
  SPropValue ansi = Value(kAnsiTag);
  ansi.Value.lpszA = const_cast<char*>("ansi");
  const SPropValue message[] = {
      Text(PR_SUBJECT_W, p.subject.c_str()),        Text(PR_MESSAGE_CLASS_W, p.messageClass.c_str()),
      time,                                          delivery,
      Long(PR_SENSITIVITY, 0),                       Text(PR_CONVERSATION_TOPIC_W, p.subject.c_str()),
      Binary(PR_SENDER_ENTRYID, p.senderEntryId),    Text(PR_SENDER_NAME_W, p.senderName.c_str()),
      Binary(PR_SENDER_SEARCH_KEY, p.searchKey),     Text(PR_BODY_W, p.body.c_str()),
      Long(PR_IMPORTANCE, 1),                        shortValue,
      boolean,                                       longLong,
      real,                                          ansi,
  };
  for (const SPropValue& value : message) ASSERT_EQ(S_OK, writer.SetProperty(ObjectRef::Message(), value));

  ULONG first = 99, second = 99;
  ASSERT_EQ(S_OK, writer.CreateAttachment(&first));
  ASSERT_EQ(S_OK, writer.CreateAttachment(&second));
  ASSERT_EQ(0u, first);
  ASSERT_EQ(1u, second);
  const SPropValue attachment[] = {
      Text(PR_ATTACH_LONG_FILENAME_W, p.subject.c_str()), Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
      Text(PR_ATTACH_EXTENSION_W, L"pdf"),                Text(PR_ATTACH_FILENAME_W, L"Quartals.pdf"),
      Text(PR_DISPLAY_NAME_W, p.subject.c_str()),
  };
  for (const SPropValue& value : attachment) ASSERT_EQ(S_OK, writer.SetProperty(ObjectRef::Attachment(first), value));
  ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(first), kAttachDataTag));
  for (size_t done = 0; done < p.data.size(); done += 4096) {
    const size_t piece = std::min<size_t>(4096, p.data.size() - done);
    ASSERT_EQ(S_OK, writer.WriteValueStream(p.data.data() + done, static_cast<ULONG>(piece)));
  }
  ASSERT_EQ(S_OK, writer.EndValueStream());
  // An empty file posted: the attachment has data, of no bytes.
  ASSERT_EQ(S_OK, writer.SetProperty(ObjectRef::Attachment(second), Text(PR_ATTACH_LONG_FILENAME_W, L"empty.txt")));
  ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(second), kAttachDataTag));
  ASSERT_EQ(S_OK, writer.EndValueStream());
  ASSERT_EQ(S_OK, writer.Finish());
}

using MessageFile = StorageTest;

}  // namespace

TEST_F(MessageFile, PostingHasTheLayoutTheFormatPrescribes) {
  const Posting p;
  const std::wstring path = scratch_.File(L"posting.msg");
  WritePosting(path, p);
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));

  EXPECT_TRUE(IsEqualCLSID(kMessageClassId, view.storages[L""])) << "the root carries the message class id";
  const std::wstring a0 = L"__attach_version1.0_#00000000/";
  const std::wstring a1 = L"__attach_version1.0_#00000001/";
  const std::wstring named = L"__nameid_version1.0/";
  std::vector<std::wstring> expectedStreams = {
      L"__properties_version1.0", L"__substg1.0_0037001F", L"__substg1.0_001A001F", L"__substg1.0_0070001F",
      L"__substg1.0_0C190102",    L"__substg1.0_0C1A001F", L"__substg1.0_0C1D0102", L"__substg1.0_1000001F",
      L"__substg1.0_6605001E",    named + L"__substg1.0_00020102", named + L"__substg1.0_00030102",
      named + L"__substg1.0_00040102", a0 + L"__properties_version1.0", a0 + L"__substg1.0_3707001F",
      a0 + L"__substg1.0_3703001F", a0 + L"__substg1.0_3704001F", a0 + L"__substg1.0_3001001F",
      a0 + L"__substg1.0_37010102", a1 + L"__properties_version1.0", a1 + L"__substg1.0_3707001F",
      a1 + L"__substg1.0_37010102"};
  std::sort(expectedStreams.begin(), expectedStreams.end());
  std::vector<std::wstring> actualStreams;
  for (const auto& entry : view.streams) actualStreams.push_back(entry.first);
  EXPECT_EQ(expectedStreams, actualStreams);
  EXPECT_EQ(4u, view.storages.size()) << "root, named properties, two attachments";

  // Top-level property stream: 32-byte header, 16 bytes per property
  // (16 set plus the store support mask).
  const std::vector<uint8_t>& props = view.streams[L"__properties_version1.0"];
  ASSERT_EQ(32u + 17u * 16u, props.size());
  const uint32_t header[8] = {0, 0, 0, 2, 0, 2, 0, 0};  // reserved, next recipient, next attachment, counts, reserved
  for (int i = 0; i < 8; ++i) EXPECT_EQ(header[i], msgfile::cfb::Get32(&props[4 * i])) << "header word " << i;

  struct Expected {
    ULONG tag;
    uint64_t value;  // fixed value, or the size field for streamed types
  };
  const Expected entries[] = {
      {PR_SUBJECT_W, p.subject.size() * 2 + 2},  // Unicode sizes count a terminator
      {PR_MESSAGE_CLASS_W, p.messageClass.size() * 2 + 2},
      {PR_SENDER_ENTRYID, 20},
      {kAnsiTag, 5},  // 8-bit sizes count a one-byte terminator
      {PR_CLIENT_SUBMIT_TIME, 0x01DA765489ABCDEFull},
      {PR_SENSITIVITY, 0},
      {PR_IMPORTANCE, 1},
      {kShortTag, 0xFFFE},
      {kBooleanTag, 1},
      {kLongLongTag, 0x0102030405060708ull},
      {kDoubleTag, 0x4004000000000000ull},
      {kStoreSupportMaskTag, 0x00040000},  // Unicode strings present
  };
  for (const Expected& e : entries) {
    const uint8_t* entry = FindEntry(props, 32, e.tag);
    ASSERT_NE(nullptr, entry) << std::hex << e.tag;
    EXPECT_EQ(6u, msgfile::cfb::Get32(entry + 4)) << "flags of " << std::hex << e.tag;
    EXPECT_EQ(e.value, msgfile::cfb::Get64(entry + 8)) << "value of " << std::hex << e.tag;
  }
  EXPECT_EQ(Utf16(p.subject), view.streams[L"__substg1.0_0037001F"]) << "no terminator in the stream";
  EXPECT_EQ(p.senderEntryId, view.streams[L"__substg1.0_0C190102"]);
  EXPECT_EQ((std::vector<uint8_t>{'a', 'n', 's', 'i'}), view.streams[L"__substg1.0_6605001E"]);
  for (const wchar_t* stream : {L"__substg1.0_00020102", L"__substg1.0_00030102", L"__substg1.0_00040102"}) {
    EXPECT_TRUE(view.streams[named + stream].empty()) << "no named properties";
  }

  // Attachments: 8-byte header, PR_ATTACH_NUM added, the data streamed.
  const std::vector<uint8_t>& first = view.streams[a0 + L"__properties_version1.0"];
  ASSERT_EQ(8u + 7u * 16u, first.size());
  EXPECT_EQ(0u, msgfile::cfb::Get64(&first[0]));
  ASSERT_NE(nullptr, FindEntry(first, 8, PR_ATTACH_NUM));
  EXPECT_EQ(0u, msgfile::cfb::Get64(FindEntry(first, 8, PR_ATTACH_NUM) + 8));
  ASSERT_NE(nullptr, FindEntry(first, 8, kAttachDataTag));
  EXPECT_EQ(10000u, msgfile::cfb::Get32(FindEntry(first, 8, kAttachDataTag) + 8));
  EXPECT_TRUE(view.streams[a0 + L"__substg1.0_37010102"] == p.data);
  EXPECT_EQ(Utf16(L"pdf"), view.streams[a0 + L"__substg1.0_3703001F"]);

  const std::vector<uint8_t>& second = view.streams[a1 + L"__properties_version1.0"];
  ASSERT_NE(nullptr, FindEntry(second, 8, kAttachDataTag));
  EXPECT_EQ(0u, msgfile::cfb::Get32(FindEntry(second, 8, kAttachDataTag) + 8));
  EXPECT_EQ(1u, msgfile::cfb::Get64(FindEntry(second, 8, PR_ATTACH_NUM) + 8));
  EXPECT_TRUE(view.streams[a1 + L"__substg1.0_37010102"].empty());
}

TEST_F(MessageFile, OurReaderGivesBackEveryValue) {
  const Posting p;
  const std::wstring path = scratch_.File(L"roundtrip.msg");
  WritePosting(path, p);
  MessageReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  EXPECT_EQ(2u, reader.Header().attachmentCount);
  EXPECT_EQ(2u, reader.Header().nextAttachmentId);
  EXPECT_EQ(0u, reader.Header().recipientCount);
  ASSERT_EQ(2u, reader.AttachmentCount());
  EXPECT_EQ(0u, reader.RecipientCount());
  ASSERT_NE(nullptr, reader.Properties(ObjectRef::Message()));
  EXPECT_EQ(17u, reader.Properties(ObjectRef::Message())->size());

  const ObjectRef message = ObjectRef::Message();
  Property value;
  ASSERT_EQ(S_OK, reader.GetProperty(message, PR_SUBJECT_W, &value));
  EXPECT_EQ(p.subject, msgfile::UnicodeValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, PROP_TAG(msgfile::kAnyPropertyType, 0x1000), &value)) << "found by id alone";
  EXPECT_EQ(PR_BODY_W, value.tag);
  EXPECT_EQ(p.body, msgfile::UnicodeValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, PR_MESSAGE_DELIVERY_TIME, &value));
  const FILETIME delivered = msgfile::FileTimeValue(value);
  EXPECT_EQ(0, CompareFileTime(&p.time, &delivered));
  ASSERT_EQ(S_OK, reader.GetProperty(message, PR_SENDER_SEARCH_KEY, &value));
  EXPECT_EQ(p.searchKey, value.bytes);
  ASSERT_EQ(S_OK, reader.GetProperty(message, kShortTag, &value));
  EXPECT_EQ(-2, msgfile::ShortValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, kBooleanTag, &value));
  EXPECT_TRUE(msgfile::BooleanValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, kLongLongTag, &value));
  EXPECT_EQ(0x0102030405060708LL, msgfile::LongLongValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, kDoubleTag, &value));
  EXPECT_EQ(2.5, msgfile::DoubleValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, kAnsiTag, &value));
  EXPECT_EQ("ansi", msgfile::String8Value(value));
  ASSERT_EQ(S_OK, reader.GetProperty(message, PR_IMPORTANCE, &value));
  EXPECT_EQ(1, msgfile::LongValue(value));
  EXPECT_EQ(MAPI_E_NOT_FOUND, reader.GetProperty(message, PR_SUBJECT_A, &value)) << "the type must match";
  EXPECT_EQ(MAPI_E_NOT_FOUND, reader.GetProperty(message, PR_COMMENT_W, &value));
  EXPECT_EQ(MAPI_E_TOO_BIG, reader.GetProperty(ObjectRef::Attachment(0), kAttachDataTag, &value, 9999));

  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Attachment(0), PR_ATTACH_FILENAME_W, &value));
  EXPECT_EQ(L"Quartals.pdf", msgfile::UnicodeValue(value));
  StreamReader data;
  ASSERT_EQ(S_OK, reader.OpenValueStream(ObjectRef::Attachment(0), kAttachDataTag, &data));
  std::vector<uint8_t> bytes;
  uint8_t buffer[3000];
  size_t read = 0;
  while (SUCCEEDED(data.Read(buffer, sizeof buffer, &read)) && read > 0) bytes.insert(bytes.end(), buffer, buffer + read);
  EXPECT_TRUE(bytes == p.data);
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Attachment(1), kAttachDataTag, &value));
  EXPECT_TRUE(value.bytes.empty());
  EXPECT_EQ(nullptr, reader.Properties(ObjectRef::Attachment(2)));
  EXPECT_EQ(MAPI_E_NOT_FOUND, reader.GetProperty(ObjectRef::Attachment(2), kAttachDataTag, &value));
}

TEST_F(MessageFile, ValuesCanBeReplacedDeletedAndCancelledUntilFinish) {
  const std::wstring path = scratch_.File(L"changes.msg");
  const auto streamed = PatternBytes(8000, 1);
  const auto streamedAgain = PatternBytes(6000, 2);
  {
    MessageWriter writer;
    ASSERT_EQ(S_OK, writer.Create(path.c_str()));
    const ObjectRef message = ObjectRef::Message();
    ASSERT_EQ(S_OK, writer.SetProperty(message, Text(PR_SUBJECT_W, L"first")));
    SPropValue ansi = Value(PR_SUBJECT_A);
    ansi.Value.lpszA = const_cast<char*>("second");
    ASSERT_EQ(S_OK, writer.SetProperty(message, ansi)) << "same id, other type: replaces";
    ASSERT_EQ(S_OK, writer.SetProperty(message, Text(PR_BODY_W, L"gone")));
    ASSERT_EQ(S_OK, writer.DeleteProperty(message, PR_BODY_W));
    ASSERT_EQ(S_OK, writer.SetProperty(message, Long(kStoreSupportMaskTag, 0x00040001)));
    EXPECT_EQ(MAPI_E_NOT_FOUND, writer.DeleteProperty(message, PR_BODY_W));

    ULONG a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(S_OK, writer.CreateAttachment(&a));
    ASSERT_EQ(S_OK, writer.CreateAttachment(&b));
    ASSERT_EQ(S_OK, writer.CreateAttachment(&c));
    // A streamed value replaced by a plain one.
    ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(a), kAttachDataTag));
    ASSERT_EQ(S_OK, writer.WriteValueStream(streamed.data(), static_cast<ULONG>(streamed.size())));
    ASSERT_EQ(S_OK, writer.EndValueStream());
    ASSERT_EQ(S_OK, writer.SetProperty(ObjectRef::Attachment(a), Binary(kAttachDataTag, {1, 2, 3})));
    // A stream cancelled, then a stream replaced by a second one.
    ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(b), kAttachDataTag));
    ASSERT_EQ(S_OK, writer.WriteValueStream(streamed.data(), 5000));
    ASSERT_EQ(S_OK, writer.CancelValueStream());
    ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(b), PR_BODY_W));
    ASSERT_EQ(S_OK, writer.WriteValueStream(streamed.data(), 4000));
    ASSERT_EQ(S_OK, writer.EndValueStream());
    ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(b), PR_BODY_W));
    ASSERT_EQ(S_OK, writer.WriteValueStream(streamedAgain.data(), static_cast<ULONG>(streamedAgain.size())));
    ASSERT_EQ(S_OK, writer.EndValueStream());
    // An attachment deleted while its stream is open takes the stream with it.
    ASSERT_EQ(S_OK, writer.BeginValueStream(ObjectRef::Attachment(c), kAttachDataTag));
    ASSERT_EQ(S_OK, writer.WriteValueStream(streamed.data(), 7000));
    ASSERT_EQ(S_OK, writer.DeleteAttachment(c));
    EXPECT_EQ(E_UNEXPECTED, writer.WriteValueStream(streamed.data(), 1));
    EXPECT_EQ(MAPI_E_NOT_FOUND, writer.SetProperty(ObjectRef::Attachment(c), Long(PR_ATTACH_METHOD, 1)));
    ASSERT_EQ(S_OK, writer.CreateAttachment(&d));
    EXPECT_EQ(3u, d) << "numbers are not reused";
    ULONG recipient = 0;
    ASSERT_EQ(S_OK, writer.CreateRecipient(&recipient));
    ASSERT_EQ(S_OK, writer.SetProperty(ObjectRef::Recipient(recipient), Text(PR_DISPLAY_NAME_W, L"Ann")));
    ASSERT_EQ(S_OK, writer.Finish());
  }
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  EXPECT_EQ(0u, view.streams.count(L"__substg1.0_0037001F"));
  EXPECT_EQ((std::vector<uint8_t>{'s', 'e', 'c', 'o', 'n', 'd'}), view.streams[L"__substg1.0_0037001E"]);
  EXPECT_EQ(0u, view.streams.count(L"__substg1.0_1000001F"));
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), view.streams[L"__attach_version1.0_#00000000/__substg1.0_37010102"]);
  EXPECT_EQ(0u, view.streams.count(L"__attach_version1.0_#00000001/__substg1.0_37010102"));
  EXPECT_TRUE(view.streams[L"__attach_version1.0_#00000001/__substg1.0_1000001F"] == streamedAgain);
  EXPECT_EQ(1u, view.storages.count(L"__attach_version1.0_#00000002")) << "storages are numbered densely";
  EXPECT_EQ(0u, view.storages.count(L"__attach_version1.0_#00000003"));
  EXPECT_EQ(1u, view.storages.count(L"__recip_version1.0_#00000000"));

  MessageReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  EXPECT_EQ(3u, reader.Header().attachmentCount);
  EXPECT_EQ(1u, reader.Header().recipientCount);
  Property value;
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Attachment(2), PR_ATTACH_NUM, &value));
  EXPECT_EQ(3, msgfile::LongValue(value)) << "PR_ATTACH_NUM keeps the number the writer handed out";
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Recipient(0), kRowIdTag, &value));
  EXPECT_EQ(0, msgfile::LongValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Recipient(0), PR_DISPLAY_NAME_W, &value));
  EXPECT_EQ(L"Ann", msgfile::UnicodeValue(value));
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Message(), kStoreSupportMaskTag, &value));
  EXPECT_EQ(0x00040001, msgfile::LongValue(value)) << "the caller's own mask is kept";
}

TEST_F(MessageFile, RefusesWhatTheFileCannotHold) {
  const std::wstring path = scratch_.File(L"refused.msg");
  MessageWriter writer;
  ASSERT_EQ(S_OK, writer.Create(path.c_str()));
  const ObjectRef message = ObjectRef::Message();
  struct Case {
    const char* what;
    SPropValue value;
    HRESULT expected;
  };
  SPropValue multi = Value(PROP_TAG(PT_MV_LONG, 0x6700));
  SPropValue object = Value(PR_ATTACH_DATA_OBJ);
  SPropValue nullText = Value(PR_SUBJECT_W);
  SPropValue nullBinary = Value(PR_SENDER_ENTRYID);
  nullBinary.Value.bin.cb = 4;
  const Case cases[] = {
      {"multi-valued", multi, MAPI_E_INVALID_TYPE},
      {"object", object, MAPI_E_INVALID_TYPE},
      {"no type", Value(PROP_TAG(msgfile::kAnyPropertyType, 0x6701)), MAPI_E_INVALID_TYPE},
      {"string without text", nullText, E_INVALIDARG},
      {"binary without bytes", nullBinary, E_INVALIDARG},
      {"property id 0", Long(PROP_TAG(PT_LONG, 0), 1), E_INVALIDARG},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, writer.SetProperty(message, c.value)) << c.what;
  EXPECT_EQ(MAPI_E_NOT_FOUND, writer.SetProperty(ObjectRef::Attachment(0), Long(PR_ATTACH_METHOD, 1)));
  EXPECT_EQ(MAPI_E_NOT_FOUND, writer.DeleteAttachment(0));
  ULONG number = 0;
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(S_OK, writer.CreateRecipient(&number));
  EXPECT_EQ(MAPI_E_TOO_BIG, writer.CreateRecipient(&number)) << "2048 recipients at most";
  ASSERT_EQ(S_OK, writer.DeleteRecipient(100));
  EXPECT_EQ(S_OK, writer.CreateRecipient(&number)) << "room again after a deletion";
  EXPECT_EQ(2048u, number);
  EXPECT_EQ(MAPI_E_INVALID_TYPE, writer.BeginValueStream(message, PR_IMPORTANCE));
  EXPECT_EQ(E_UNEXPECTED, writer.EndValueStream());
  ASSERT_EQ(S_OK, writer.BeginValueStream(message, PR_BODY_W));
  EXPECT_EQ(E_UNEXPECTED, writer.BeginValueStream(message, PR_RTF_COMPRESSED)) << "one stream at a time";
  EXPECT_EQ(E_UNEXPECTED, writer.Finish()) << "a stream is still open";
  ASSERT_EQ(S_OK, writer.EndValueStream());
  ASSERT_EQ(S_OK, writer.Finish());
  EXPECT_EQ(E_UNEXPECTED, writer.SetProperty(message, Long(PR_IMPORTANCE, 1))) << "after Finish";
}

TEST_F(MessageFile, ReadsAMessageTheSystemWrote) {
  // Built stream by stream with the system's structured storage, the way
  // other writers do it: strings stored with their terminators.
  std::vector<uint8_t> props(32, 0);
  props[20] = 1;  // one attachment
  props[12] = 1;  // next attachment id
  auto entry = [](std::vector<uint8_t>* stream, ULONG tag, uint64_t value) {
    uint8_t record[16] = {};
    msgfile::cfb::Put32(record, tag);
    msgfile::cfb::Put32(record + 4, 6);
    msgfile::cfb::Put64(record + 8, value);
    stream->insert(stream->end(), record, record + 16);
  };
  entry(&props, PR_SUBJECT_W, 12);
  entry(&props, PR_IMPORTANCE, 2);
  entry(&props, PROP_TAG(PT_STRING8, 0x0E1D), 4);
  std::vector<uint8_t> attachment(8, 0);
  const auto data = PatternBytes(5000, 4);
  entry(&attachment, kAttachDataTag, data.size());
  std::vector<uint8_t> subject = Utf16(L"Hello");
  subject.push_back(0);
  subject.push_back(0);
  const std::wstring path = scratch_.File(L"system.msg");
  ASSERT_EQ(S_OK, WriteWithSystem(path,
                                  {{L"__properties_version1.0", props},
                                   {L"__substg1.0_0037001F", subject},
                                   {L"__substg1.0_0E1D001E", {'a', 'b', 'c', 0}},
                                   {L"__attach_version1.0_#00000000/__properties_version1.0", attachment},
                                   {L"__attach_version1.0_#00000000/__substg1.0_37010102", data}},
                                  1000));
  MessageReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  EXPECT_EQ(1u, reader.Header().attachmentCount);
  Property value;
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Message(), PR_SUBJECT_W, &value));
  EXPECT_EQ(L"Hello", msgfile::UnicodeValue(value)) << "the stored terminator is not part of the value";
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Message(), PROP_TAG(PT_STRING8, 0x0E1D), &value));
  EXPECT_EQ("abc", msgfile::String8Value(value));
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Message(), PR_IMPORTANCE, &value));
  EXPECT_EQ(2, msgfile::LongValue(value));
  ASSERT_EQ(1u, reader.AttachmentCount());
  ASSERT_EQ(S_OK, reader.GetProperty(ObjectRef::Attachment(0), kAttachDataTag, &value));
  EXPECT_TRUE(value.bytes == data);

  MessageReader notAMessage;
  const std::wstring plain = scratch_.File(L"plain.cfb");
  ASSERT_EQ(S_OK, WriteWithSystem(plain, {{L"stream", {1, 2, 3}}}, 10));
  EXPECT_EQ(MAPI_E_CORRUPT_DATA, notAMessage.Open(plain.c_str()));
}
