// Posting one file over a fake folder: the calls in order, the values set on
// the message and the attachment, the file's bytes in 4096-byte writes, what
// each failing step returns (nothing stored, everything released), and the
// display-name check.
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mapi/mapi_owners.h"
#include "mapi/report_posting.h"
#include "platform/tests/test_support.h"
#include "tests/fakes/fake_mapi_fixture.h"

namespace {

using kvfake::FakeFolderContents;
using kvfake::FakeMessageRecord;
using kvfake::FakeProp;
using kvfake::FakeValue;
using Bytes = std::vector<BYTE>;
using Calls = std::vector<std::string>;

const Bytes kEntryId = {0, 0, 0, 0, 1, 2, 3};
const Bytes kSearchKey = {'S', 'M', 'T', 'P', ':', 'E', 0};

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 + i / 251);
  return bytes;
}

std::vector<ULONG> TagsOf(const std::vector<FakeValue>& values) {
  std::vector<ULONG> tags;
  for (const FakeValue& value : values) tags.push_back(value.tag);
  return tags;
}

const FakeValue& ValueOf(const std::vector<FakeValue>& values, ULONG tag) {
  for (const FakeValue& value : values) {
    if (value.tag == tag) return value;
  }
  static const FakeValue kMissing;
  ADD_FAILURE() << "no value " << std::hex << tag;
  return kMissing;
}

LONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

class ReportPostingTest : public kvfake::FakeMapiTest {
 protected:
  void SetUp() override {
    FakeMapiTest::SetUp();
    folder_.reset(kvfake::NewFakeFolder({}, FakeFolderContents{}, fake.session));
  }
  void TearDown() override {
    folder_.reset();
    FakeMapiTest::TearDown();
  }
  std::wstring SourceFile(const Bytes& bytes) {
    std::wstring path = directory_.File(L"source.bin");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
  }
  // A document posting with a complete identity.
  HRESULT PostDocument(const std::wstring& path, const wchar_t* postedName = L"QuarterlyResults.pdf",
                       const wchar_t* extension = L"pdf") {
    wcscpy(messageClass_, L"IPM.Document.*pdf");
    return PostReportFile(folder_.get(), path.c_str(), 0, postedName, extension, messageClass_, nullptr,
                          static_cast<ULONG>(kEntryId.size()), kEntryId.data(), L"Erika Mustermann",
                          static_cast<ULONG>(kSearchKey.size()), kSearchKey.data(), nullptr, nullptr);
  }
  const FakeMessageRecord& OnlyMessage() {
    EXPECT_EQ(1u, fake.createdMessages.size());
    static const FakeMessageRecord kNone;
    return fake.createdMessages.empty() ? kNone : *fake.createdMessages.back();
  }

  kvtest::TempDirectory directory_;
  MAPIInterface<IMAPIFolder> folder_;
  wchar_t messageClass_[256] = {};
};

TEST_F(ReportPostingTest, ADocumentIsOneMessageWithItsValuesAndTheFileAttached) {
  const Bytes content = Pattern(8192);
  const std::wstring path = SourceFile(content);
  const LONGLONG before = Now();
  ASSERT_EQ(S_OK, PostDocument(path));
  EXPECT_EQ((Calls{"IMAPIFolder::CreateMessage flags=0x0", "IMessage::SetProps values=13",
                   "IMessage::CreateAttach flags=0x0", "IAttach::SetProps values=5",
                   "IAttach::OpenProperty tag=0x37010102 IStream options=0x1001 flags=0x3",
                   "IStream::SetSize", "IStream::Write bytes=4096", "IStream::Write bytes=4096", "IStream::Release",
                   "IAttach::SaveChanges flags=0x0", "IMessage::SetReadFlag flags=0x4",
                   "IMessage::SaveChanges flags=0x0", "IAttach::Release", "IMessage::Release"}),
            fake.calls())
      << "8192 bytes: two full reads written, the third read finds the end";

  const FakeMessageRecord& message = OnlyMessage();
  EXPECT_TRUE(message.saved);
  EXPECT_EQ((std::vector<ULONG>{PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME,
                                PR_SENSITIVITY, PR_CONVERSATION_TOPIC_W, PR_SENDER_ENTRYID, PR_SENDER_NAME_W,
                                PR_SENDER_SEARCH_KEY, PR_SENT_REPRESENTING_ENTRYID, PR_SENT_REPRESENTING_NAME_W,
                                PR_SENT_REPRESENTING_SEARCH_KEY, PR_IMPORTANCE}),
            TagsOf(message.values));
  // Each value as the provider stores it is checked through the real module and provider.
  EXPECT_EQ(L"IPM.DOCUMENT.*PDF", ValueOf(message.values, PR_MESSAGE_CLASS_W).text);
  EXPECT_EQ(L"IPM.DOCUMENT.*PDF", std::wstring(messageClass_)) << "upper-cased in the caller's buffer";
  const LONGLONG submitted = ValueOf(message.values, PR_CLIENT_SUBMIT_TIME).number;
  EXPECT_EQ(submitted, ValueOf(message.values, PR_MESSAGE_DELIVERY_TIME).number) << "one time for both";
  EXPECT_LE(before - 10000000, submitted) << "UTC now, within a second";
  EXPECT_GE(Now() + 10000000, submitted);

  ASSERT_EQ(1u, message.attachments.size());
  const auto& attachment = *message.attachments[0];
  EXPECT_TRUE(attachment.saved);
  EXPECT_EQ((std::vector<ULONG>{PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_METHOD, PR_ATTACH_EXTENSION_W,
                                PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W}),
            TagsOf(attachment.values));
  EXPECT_EQ(L"Quarterl.pdf", attachment.values[3].text);
  EXPECT_EQ(content, attachment.data);
}

TEST_F(ReportPostingTest, TheFileIsWrittenInPiecesOf4096Bytes) {
  struct Case {
    size_t size;
    Calls writes;
  } cases[] = {{0, {}},
               {1, {"IStream::Write bytes=1"}},
               {4096, {"IStream::Write bytes=4096"}},
               {5000, {"IStream::Write bytes=4096", "IStream::Write bytes=904"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    fake.ClearCalls();
    fake.createdMessages.clear();
    const Bytes content = Pattern(c.size);
    ASSERT_EQ(S_OK, PostDocument(SourceFile(content)));
    EXPECT_EQ(c.writes, fake.CallsStartingWith("IStream::Write"));
    EXPECT_EQ(content, OnlyMessage().attachments.at(0)->data);
    EXPECT_TRUE(OnlyMessage().saved);
  }
}

TEST_F(ReportPostingTest, AReportIsAnAssociatedMessageWithItsNameAndTexts) {
  const std::wstring path = SourceFile(Pattern(10));
  wcscpy(messageClass_, L"IPM.ZORLAN.REPORT.TEMPLATE");
  // No sender name: the identity is incomplete, so no sender values.
  ASSERT_EQ(S_OK, PostReportFile(folder_.get(), path.c_str(), 1, L"sales.rpt", L"rpt", messageClass_, L"Sales",
                                 static_cast<ULONG>(kEntryId.size()), kEntryId.data(), nullptr,
                                 static_cast<ULONG>(kSearchKey.size()), kSearchKey.data(), L"A comment", L"The body"));
  const FakeMessageRecord& message = OnlyMessage();
  EXPECT_EQ(static_cast<ULONG>(MAPI_ASSOCIATED), message.createFlags);
  EXPECT_EQ((std::vector<ULONG>{PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME,
                                PR_SENSITIVITY, PR_CONVERSATION_TOPIC_W, PR_DISPLAY_NAME_W, PR_COMMENT_W, PR_BODY_W,
                                PR_IMPORTANCE}),
            TagsOf(message.values));
  EXPECT_EQ(L"IPM.ZORLAN.REPORT.TEMPLATE", ValueOf(message.values, PR_MESSAGE_CLASS_W).text);
  EXPECT_EQ(L"Sales", ValueOf(message.values, PR_DISPLAY_NAME_W).text);
  EXPECT_EQ(L"A comment", ValueOf(message.values, PR_COMMENT_W).text);
  EXPECT_EQ(L"The body", ValueOf(message.values, PR_BODY_W).text);
  EXPECT_TRUE(message.saved);
}

TEST_F(ReportPostingTest, AFailingStepIsReportedAndLeavesNothingStored) {
  const std::wstring path = SourceFile(Pattern(9000));
  constexpr HRESULT kMediumFull = static_cast<HRESULT>(0x80030070);  // STG_E_MEDIUMFULL
  struct Case {
    const char* call;
    unsigned nth;
    HRESULT fault;
    HRESULT result;
    bool stored;
  } cases[] = {
      {"IMAPIFolder::CreateMessage", 1, MAPI_E_NO_ACCESS, MAPI_E_NO_ACCESS, false},
      {"MAPIAllocateBuffer", 1, MAPI_E_NOT_ENOUGH_MEMORY, MAPI_E_NOT_ENOUGH_MEMORY, false},
      {"IMessage::SetProps", 1, MAPI_E_NO_SUPPORT, MAPI_E_NO_SUPPORT, false},
      {"IMessage::CreateAttach", 1, MAPI_E_CALL_FAILED, MAPI_E_CALL_FAILED, false},
      {"MAPIAllocateBuffer", 2, MAPI_E_NOT_ENOUGH_MEMORY, MAPI_E_NOT_ENOUGH_MEMORY, false},
      {"IAttach::SetProps", 1, MAPI_E_INVALID_PARAMETER, MAPI_E_INVALID_PARAMETER, false},
      {"IAttach::OpenProperty", 1, MAPI_E_NO_SUPPORT, MAPI_E_NO_SUPPORT, false},
      {"IStream::Write", 2, kMediumFull, kMediumFull, false},
      {"IAttach::SaveChanges", 1, MAPI_E_NOT_ENOUGH_DISK, MAPI_E_NOT_ENOUGH_DISK, false},
      {"IMessage::SaveChanges", 1, MAPI_E_NOT_ENOUGH_DISK, MAPI_E_NOT_ENOUGH_DISK, false},
      // A read flag that cannot be cleared changes nothing that matters.
      {"IMessage::SetReadFlag", 1, MAPI_E_NO_SUPPORT, S_OK, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth));
    fake.createdMessages.clear();
    fake.FailCall(c.call, c.fault, c.nth);
    EXPECT_EQ(c.result, PostDocument(path));
    EXPECT_EQ(c.stored, !fake.createdMessages.empty() && fake.createdMessages[0]->saved);
    EXPECT_EQ(1, fake.liveObjects()) << "message, attachment and stream released; the folder stays";
    EXPECT_EQ(0u, fake.outstandingBuffers());
  }
}

TEST_F(ReportPostingTest, AMissingFileOrFolderPostsNothing) {
  wcscpy(messageClass_, L"IPM.Document.*txt");
  EXPECT_EQ(E_INVALIDARG, PostReportFile(nullptr, L"a.txt", 0, L"a.txt", L"txt", messageClass_, nullptr, 0, nullptr,
                                         nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_TRUE(fake.createdMessages.empty());
  EXPECT_EQ(E_FAIL, PostDocument(directory_.File(L"missing.pdf")));
  EXPECT_FALSE(OnlyMessage().saved);
  EXPECT_TRUE(fake.CallsStartingWith("IAttach::SaveChanges").empty());
  EXPECT_EQ(1, fake.liveObjects());
}

TEST_F(ReportPostingTest, ShortFileNamesKeepEightCharactersAndTheExtension) {
  struct Case {
    const wchar_t* name;
    const wchar_t* shortName;
  } cases[] = {
      {L"QuarterlyResults.pdf", L"Quarterl.pdf"}, {L"a.txt", L"a.txt"},
      {L"12345678.x", L"12345678.x"},             {L"123456789", L"12345678"},
      {L"Archive.Report.tar.gz", L"Archive..gz"}, {L".profile", L".profile"},
      {L"C:\\dir\\LongerName.docx", L"C:\\dir\\LongerNa.docx"},
  };
  for (const Case& c : cases) {
    wchar_t out[kShortFileNameCapacity];
    MakeShortFileName(c.name, out);
    EXPECT_EQ(std::wstring(c.shortName), out) << testing::PrintToString(std::wstring(c.name));
  }
}

TEST_F(ReportPostingTest, DisplayNamesAreComparedWithoutCase) {
  FakeFolderContents contents;
  contents.associatedMessages = {{FakeProp::Error(PR_DISPLAY_NAME_A)}, {FakeProp::Text(PR_DISPLAY_NAME_A, "Sales")}};
  MAPIInterface<IMAPIFolder> reports(kvfake::NewFakeFolder({}, contents, fake.session));
  EXPECT_EQ(1, IsDisplayNameUsed(reports.get(), L"SALES"));
  EXPECT_EQ(1, IsDisplayNameUsed(reports.get(), L"Sales"));
  EXPECT_EQ(0, IsDisplayNameUsed(reports.get(), L"Sale"));
  EXPECT_EQ(3u, fake.CallsStartingWith("IMAPIFolder::GetContentsTable flags=0x40").size())
      << "the associated contents, each time";
  fake.FailCall("IMAPIFolder::GetContentsTable", MAPI_E_NO_ACCESS);
  EXPECT_EQ(0, IsDisplayNameUsed(reports.get(), L"Sales"));
  fake.FailCall("IMAPITable::SetColumns", MAPI_E_NO_SUPPORT);
  EXPECT_EQ(0, IsDisplayNameUsed(reports.get(), L"Sales"));
  EXPECT_EQ(0, IsDisplayNameUsed(nullptr, L"Sales"));
}

}  // namespace
