// The table wrapper over fake tables: the calls it makes and in which order,
// rows in batches of 50 with each batch freed before the next, the one busy
// wait, and that every table and buffer is released on every path.
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mapi/mapi_table.h"
#include "tests/fakes/fake_mapi_fixture.h"

namespace {

using kvfake::FakeFolderContents;
using kvfake::FakeProp;
using kvfake::FakeRow;
using Calls = std::vector<std::string>;

constexpr HRESULT kTimeout = static_cast<HRESULT>(0x80040401);  // MAPI_E_TIMEOUT

std::vector<FakeRow> NamedRows(int count) {
  std::vector<FakeRow> rows;
  for (int i = 0; i < count; ++i) rows.push_back({FakeProp::Text(PR_DISPLAY_NAME_A, "row " + std::to_string(i))});
  return rows;
}

SizedSPropTagArray(1, g_nameColumn) = {1, {PR_DISPLAY_NAME_A}};
const SPropTagArray* NameColumn() { return reinterpret_cast<const SPropTagArray*>(&g_nameColumn); }

class MAPITableTest : public kvfake::FakeMapiTest {
 protected:
  // A folder whose contents table lists rows.
  MAPIInterface<IMAPIFolder> FolderWith(std::vector<FakeRow> rows) {
    FakeFolderContents contents;
    contents.messages = std::move(rows);
    return MAPIInterface<IMAPIFolder>(kvfake::NewFakeFolder({}, contents, fake.session));
  }
  // Every name NextRow hands out, and the MAPI buffers held when each
  // batch's first row came (the set and one property array per row).
  std::vector<std::string> ReadAll(CMAPITable& table, std::vector<size_t>* buffersPerBatch = nullptr) {
    std::vector<std::string> names;
    while (const SRow* row = table.NextRow()) {
      if (buffersPerBatch && table.nextRow == 1) buffersPerBatch->push_back(fake.outstandingBuffers());
      EXPECT_EQ(PR_DISPLAY_NAME_A, row->lpProps[0].ulPropTag);
      names.push_back(row->lpProps[0].Value.lpszA);
    }
    return names;
  }
};

// (Prepare without restriction and sort order: in the logon's call sequence.)
TEST_F(MAPITableTest, PrepareWithRestrictionAndSortOrderPassesNoFlags) {
  auto folder = FolderWith(NamedRows(3));
  CMAPITable table;
  ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
  SRestriction restriction = {};
  SSortOrderSet order = {};
  fake.ClearCalls();
  ASSERT_EQ(1, table.Prepare(NameColumn(), &restriction, &order));
  EXPECT_EQ(3u, table.rowCount);
  EXPECT_EQ((Calls{"IMAPITable::Restrict restriction=set flags=0x0", "IMAPITable::SortTable order=set flags=0x0",
                   "IMAPITable::SetColumns columns=1 flags=0x0", "IMAPITable::GetRowCount flags=0x0",
                   "IMAPITable::SeekRow origin=beginning rows=0 sought=null"}),
            fake.calls());
}

TEST_F(MAPITableTest, RowsComeInBatchesOfFiftyEachFreedBeforeTheNext) {
  struct Case {
    int rows;
    std::vector<size_t> buffersPerBatch;  // the row set plus one property array per row
  } cases[] = {{120, {51, 51, 21}}, {50, {51}}, {51, {51, 2}}, {1, {2}}, {0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows");
    auto folder = FolderWith(NamedRows(c.rows));
    CMAPITable table;
    ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
    ASSERT_EQ(1, table.Prepare(NameColumn(), nullptr, nullptr));
    fake.ClearCalls();
    std::vector<size_t> buffers;
    std::vector<std::string> names = ReadAll(table, &buffers);
    ASSERT_EQ(static_cast<size_t>(c.rows), names.size());
    for (int i = 0; i < c.rows; ++i) EXPECT_EQ("row " + std::to_string(i), names[i]);
    EXPECT_EQ(c.buffersPerBatch, buffers);
    // One query per batch and one that finds no more rows.
    EXPECT_EQ(Calls(c.buffersPerBatch.size() + 1, "IMAPITable::QueryRows rows=50 flags=0x0"), fake.calls());
    EXPECT_EQ(1u, fake.outstandingBuffers()) << "the empty last batch is held until the next call";
    EXPECT_EQ(nullptr, table.NextRow()) << "after the end every call asks MAPI again";
    EXPECT_EQ(c.buffersPerBatch.size() + 2, fake.CallsStartingWith("IMAPITable::QueryRows").size());
  }
}

TEST_F(MAPITableTest, OpeningRefusalsAndReopening) {
  auto folder = FolderWith(NamedRows(60));
  CMAPITable table;
  table.lastResult = MAPI_E_NOT_FOUND;
  EXPECT_EQ(0, table.OpenContentsTable(nullptr));
  EXPECT_EQ(0, table.OpenStatusTable(nullptr));
  EXPECT_EQ(MAPI_E_NOT_FOUND, table.lastResult) << "a null argument leaves lastResult alone";
  EXPECT_TRUE(fake.calls().empty());

  fake.FailCall("IMAPIFolder::GetHierarchyTable", MAPI_E_NO_ACCESS);
  EXPECT_EQ(0, table.OpenHierarchyTable(folder.get()));
  EXPECT_EQ(MAPI_E_NO_ACCESS, table.lastResult);
  fake.ClearCalls();
  EXPECT_EQ(nullptr, table.NextRow()) << "no table, no rows";
  EXPECT_EQ(0, table.Prepare(NameColumn(), nullptr, nullptr));
  EXPECT_TRUE(fake.calls().empty()) << "a wrapper without a table calls nothing";

  // A second open releases the first table and its batch.
  ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
  ASSERT_EQ(1, table.Prepare(NameColumn(), nullptr, nullptr));
  ASSERT_NE(nullptr, table.NextRow());
  EXPECT_EQ(51u, fake.outstandingBuffers());
  EXPECT_EQ(2, fake.liveObjects());
  fake.ClearCalls();
  ASSERT_EQ(1, table.OpenAssociatedContentsTable(folder.get()));
  EXPECT_EQ((Calls{"IMAPITable::Release", "IMAPIFolder::GetContentsTable flags=0x40"}), fake.calls());
  EXPECT_EQ(0u, fake.outstandingBuffers());
  EXPECT_EQ(2, fake.liveObjects());
  EXPECT_EQ(0u, table.rowCount);

  EXPECT_EQ(1, table.Close());
  EXPECT_EQ(1, fake.liveObjects()) << "only the folder is left";
  EXPECT_EQ(nullptr, table.NextRow());
}

TEST_F(MAPITableTest, ABusyTableIsWaitedForOnce) {
  struct Case {
    const char* busyCall;
    HRESULT waitResult;
    int prepared;        // what Prepare answers
    size_t rowsRead;     // what NextRow then hands out
    HRESULT lastResult;  // after reading
  } cases[] = {
      {"IMAPITable::Restrict", S_OK, 1, 3, S_OK},
      {"IMAPITable::Restrict", kTimeout, 0, 0, kTimeout},
      {"IMAPITable::SortTable", S_OK, 1, 3, S_OK},
      {"IMAPITable::SortTable", MAPI_E_CALL_FAILED, 0, 0, MAPI_E_CALL_FAILED},
      {"IMAPITable::SetColumns", S_OK, 1, 3, S_OK},
      {"IMAPITable::SetColumns", kTimeout, 0, 0, kTimeout},
      {"IMAPITable::GetRowCount", S_OK, 1, 3, S_OK},
      {"IMAPITable::GetRowCount", kTimeout, 0, 0, kTimeout},
      {"IMAPITable::SeekRow", S_OK, 1, 3, S_OK},
      {"IMAPITable::SeekRow", kTimeout, 0, 0, kTimeout},
      // A busy query that the wait lets through delivered no rows: the scan ends.
      {"IMAPITable::QueryRows", S_OK, 1, 0, S_OK},
      {"IMAPITable::QueryRows", kTimeout, 1, 0, kTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.busyCall) + " busy, wait " + kvfake::Hex(static_cast<ULONG>(c.waitResult)));
    auto folder = FolderWith(NamedRows(3));
    CMAPITable table;
    ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
    table.rowCount = 7;
    fake.FailCall(c.busyCall, MAPI_E_BUSY);
    fake.FailCall("IMAPITable::WaitForCompletion", c.waitResult);
    fake.ClearCalls();
    SRestriction restriction = {};
    SSortOrderSet order = {};
    EXPECT_EQ(c.prepared, table.Prepare(NameColumn(), &restriction, &order));
    size_t rowsRead = c.prepared ? ReadAll(table).size() : 0;
    EXPECT_EQ(c.rowsRead, rowsRead);
    EXPECT_EQ(c.lastResult, table.lastResult);
    // The busy call is followed by one wait and is never repeated.
    const Calls& calls = fake.calls();
    size_t busy = 0;
    while (busy < calls.size() && calls[busy].compare(0, strlen(c.busyCall), c.busyCall) != 0) ++busy;
    ASSERT_LT(busy + 1, calls.size());
    EXPECT_EQ("IMAPITable::WaitForCompletion flags=0x0 timeout=5000 status=null", calls[busy + 1]);
    EXPECT_EQ(1u, fake.CallsStartingWith(c.busyCall).size());
    EXPECT_EQ(1u, fake.CallsStartingWith("IMAPITable::WaitForCompletion").size());
    if (std::string(c.busyCall) == "IMAPITable::GetRowCount" && c.waitResult == S_OK) {
      EXPECT_EQ(7u, table.rowCount) << "a count that was never delivered keeps the previous one";
    }
  }
}

TEST_F(MAPITableTest, FailuresOtherThanBusyAreNotWaitedFor) {
  auto folder = FolderWith(NamedRows(3));
  CMAPITable table;
  ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
  table.rowCount = 7;
  fake.FailCall("IMAPITable::GetRowCount", MAPI_E_NO_SUPPORT);
  EXPECT_EQ(0, table.Prepare(NameColumn(), nullptr, nullptr));
  EXPECT_EQ(MAPI_E_NO_SUPPORT, table.lastResult);
  EXPECT_EQ(0u, table.rowCount) << "a failed count is 0";
  EXPECT_TRUE(fake.CallsStartingWith("IMAPITable::WaitForCompletion").empty());
  EXPECT_TRUE(fake.CallsStartingWith("IMAPITable::SeekRow").empty()) << "Prepare stops at the failing step";

  // Removing a restriction may fail without stopping Prepare.
  fake.FailCall("IMAPITable::Restrict", MAPI_E_NO_SUPPORT);
  EXPECT_EQ(1, table.Prepare(NameColumn(), nullptr, nullptr));
  EXPECT_EQ(S_OK, table.lastResult);
  fake.FailCall("IMAPITable::Restrict", MAPI_E_NO_SUPPORT);
  EXPECT_EQ(0, table.ClearRestriction()) << "ClearRestriction reports it";
  EXPECT_EQ(MAPI_E_NO_SUPPORT, table.lastResult);
}

TEST_F(MAPITableTest, ErrorTextAndColumnList) {
  auto folder = FolderWith(NamedRows(2));
  CMAPITable table;
  ASSERT_EQ(1, table.OpenContentsTable(folder.get()));
  ASSERT_EQ(1, table.Prepare(NameColumn(), nullptr, nullptr));
  fake.ClearCalls();
  EXPECT_EQ(nullptr, table.GetErrorText()) << "no error after a success";
  EXPECT_TRUE(fake.calls().empty()) << "and MAPI is not asked";

  fake.FailCall("IMAPITable::SetColumns", MAPI_E_TOO_COMPLEX);
  EXPECT_EQ(0, table.Prepare(NameColumn(), nullptr, nullptr));
  const char* text = table.GetErrorText();
  ASSERT_NE(nullptr, text);
  EXPECT_STREQ("IMAPITable failed with 0x80040117", text);
  EXPECT_EQ("IMAPITable::GetLastError result=0x80040117 flags=0x0", fake.calls().back());
  EXPECT_EQ(1u, fake.outstandingBuffers()) << "the error information is kept until the next call";

  SPropTagArray* columns = table.QueryAllColumns();
  ASSERT_NE(nullptr, columns);
  EXPECT_EQ(1u, columns->cValues);
  EXPECT_EQ(PR_DISPLAY_NAME_A, columns->aulPropTag[0]);
  g_MAPIFunctions.MAPIFreeBuffer(columns);
  fake.FailCall("IMAPITable::QueryColumns", MAPI_E_NO_SUPPORT);
  EXPECT_EQ(nullptr, table.QueryAllColumns());
  EXPECT_EQ(MAPI_E_NO_SUPPORT, table.lastResult);
  // The error information goes with the wrapper (checked at the end).
}

}  // namespace
