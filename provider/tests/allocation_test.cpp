// MAPI memory: linked allocations are freed with their root, and the
// accounting sees every outstanding buffer.
#include <windows.h>

#include <mapix.h>
#include <mapiutil.h>

#include <gtest/gtest.h>

#include "allocation.h"

TEST(Allocation, LinkedBlocksAreFreedWithTheirRoot) {
  const long roots = provider::LiveBufferCount();
  const long linked = provider::LiveLinkedBlockCount();
  void* root = nullptr;
  ASSERT_EQ(S_OK, MAPIAllocateBuffer(64, &root));
  void* more1 = nullptr;
  void* more2 = nullptr;
  ASSERT_EQ(S_OK, MAPIAllocateMore(100, root, &more1));
  ASSERT_EQ(S_OK, MAPIAllocateMore(0, root, &more2));
  EXPECT_EQ(roots + 1, provider::LiveBufferCount());
  EXPECT_EQ(linked + 2, provider::LiveLinkedBlockCount());
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(root) % 16) << "buffers must be aligned for any property value";
  memset(more1, 0xAB, 100);
  // A linked block is not a buffer of its own.
  EXPECT_EQ(static_cast<ULONG>(MAPI_E_INVALID_PARAMETER), MAPIFreeBuffer(more1));
  EXPECT_EQ(static_cast<ULONG>(S_OK), MAPIFreeBuffer(root));
  EXPECT_EQ(roots, provider::LiveBufferCount());
  EXPECT_EQ(linked, provider::LiveLinkedBlockCount());
  EXPECT_EQ(static_cast<ULONG>(S_OK), MAPIFreeBuffer(nullptr));
}

TEST(Allocation, MoreNeedsARootBuffer) {
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, nullptr, &out));
  EXPECT_EQ(nullptr, out);
}

TEST(Utilities, FileTimeArithmetic) {
  FILETIME product = FtMulDwDw(0xFFFFFFFFu, 0x10u);
  EXPECT_EQ(0xFFFFFFF0u, product.dwLowDateTime);
  EXPECT_EQ(0xFu, product.dwHighDateTime);
  FILETIME one = {1, 0};
  FILETIME minusOne = FtNegFt(one);
  EXPECT_EQ(0xFFFFFFFFu, minusOne.dwLowDateTime);
  EXPECT_EQ(0xFFFFFFFFu, minusOne.dwHighDateTime);
}

TEST(Utilities, FreeProwsReleasesEveryRow) {
  const long roots = provider::LiveBufferCount();
  LPSRowSet rows = nullptr;
  ASSERT_EQ(S_OK, MAPIAllocateBuffer(CbNewSRowSet(2), reinterpret_cast<void**>(&rows)));
  rows->cRows = 2;
  for (ULONG i = 0; i < 2; ++i) {
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&rows->aRow[i].lpProps)));
    rows->aRow[i].cValues = 1;
  }
  EXPECT_EQ(roots + 3, provider::LiveBufferCount());
  FreeProws(rows);
  EXPECT_EQ(roots, provider::LiveBufferCount());
}
