// MAPI memory and the utility functions, through MAPI32.DLL's exports.
#include "provider_fixture.h"

namespace provider_test {
namespace {

class AllocationTest : public ProviderTest {};

TEST_F(AllocationTest, LinkedBlocksAreFreedWithTheirRoot) {
  void* root = nullptr;
  ASSERT_EQ(S_OK, MAPIAllocateBuffer(64, &root));
  void* more1 = nullptr;
  void* more2 = nullptr;
  ASSERT_EQ(S_OK, MAPIAllocateMore(100, root, &more1));
  ASSERT_EQ(S_OK, MAPIAllocateMore(0, root, &more2));
  EXPECT_EQ(1, KvMapiOutstandingBuffers()) << "linked blocks are not buffers of their own";
  // As the system heap aligns: 8 bytes on x86, 16 on x64, enough for any property value.
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(root) % MEMORY_ALLOCATION_ALIGNMENT)
      << "buffers must be aligned for any property value";
  memset(more1, 0xAB, 100);
  EXPECT_EQ(static_cast<ULONG>(MAPI_E_INVALID_PARAMETER), MAPIFreeBuffer(more1)) << "a linked block goes with its root";
  EXPECT_EQ(static_cast<ULONG>(S_OK), MAPIFreeBuffer(root));
  EXPECT_EQ(0, KvMapiOutstandingBuffers());
  EXPECT_EQ(static_cast<ULONG>(S_OK), MAPIFreeBuffer(nullptr));
}

TEST_F(AllocationTest, MoreNeedsARootBuffer) {
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, nullptr, &out));
  EXPECT_EQ(nullptr, out);
}

// The module binds FtMulDwDw, FtNegFt and HrQueryAllRows but calls only this one.
TEST_F(AllocationTest, HrGetOnePropOnAStore) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}});
  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  Store store = OpenStore(session.get(), L"Mailbox");
  ASSERT_TRUE(store);
  LPSPropValue raw = reinterpret_cast<LPSPropValue>(0xdeadbeef);
  EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(store.get(), PR_BODY_W, &raw));
  EXPECT_EQ(nullptr, raw);
  ASSERT_EQ(S_OK, HrGetOneProp(store.get(), PR_DISPLAY_NAME_A, &raw));
  Buffer<SPropValue> name(raw);
  EXPECT_STREQ("Mailbox", name->Value.lpszA);
}

}  // namespace
}  // namespace provider_test
