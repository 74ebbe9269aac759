// The window map's list: lookups and removals at every position, checked
// through the links a walk from either end would follow.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "ui/window_framework.h"

namespace {

HWND Handle(int n) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(n)); }

// The objects from head to tail, checked against the walk from tail to head.
std::vector<CIObject*> Objects(const CIObList& list) {
  std::vector<CIObject*> forward, backward;
  for (CIObList::Node* node = list.head(); node; node = node->next) forward.push_back(node->object);
  for (CIObList::Node* node = list.tail(); node; node = node->previous) backward.insert(backward.begin(), node->object);
  EXPECT_EQ(forward, backward) << "previous links";
  EXPECT_EQ(forward.size(), list.count());
  return forward;
}

TEST(WindowMap, LookupFindsTheFirstBoundObject) {
  CIWndMap map;
  CIWnd first, second, other;
  first.window = second.window = Handle(7);
  other.window = Handle(9);
  CIWnd* found = &other;
  EXPECT_FALSE(map.Lookup(Handle(7), found)) << "empty map";
  EXPECT_EQ(&other, found) << "untouched when nothing matches";
  ASSERT_TRUE(map.Add(&first) && map.Add(&second) && map.Add(&other));
  EXPECT_TRUE(map.Lookup(Handle(7), found));
  EXPECT_EQ(&first, found) << "the one added first";
  EXPECT_FALSE(map.Lookup(Handle(8), found));
  EXPECT_TRUE(map.Remove(&first));
  EXPECT_TRUE(map.Lookup(Handle(7), found));
  EXPECT_EQ(&second, found);
  EXPECT_FALSE(map.Remove(&first)) << "not in the map any more";
}

TEST(WindowMap, RemovingHeadTailMiddleAndTheOnlyNodeKeepsTheLinks) {
  CIObject a, b, c, d;
  struct Case {
    CIObject* removed;
    std::vector<CIObject*> left;
  } cases[] = {{&a, {&b, &c, &d}}, {&d, {&a, &b, &c}}, {&b, {&a, &c, &d}}};
  for (const Case& k : cases) {
    CIObList list;
    for (CIObject* object : {&a, &b, &c, &d}) list.AddTail(object);
    EXPECT_TRUE(list.Remove(k.removed));
    EXPECT_EQ(k.left, Objects(list));
  }
  CIObList only;
  only.AddTail(&a);
  EXPECT_EQ(nullptr, only.RemoveAt(only.head()));
  EXPECT_EQ(std::vector<CIObject*>{}, Objects(only));
  EXPECT_EQ(nullptr, only.head());
  EXPECT_EQ(nullptr, only.tail());
  // Position walking as the map does it.
  only.AddTail(&c);
  only.AddTail(&d);
  CIObList::Position position = only.GetHeadPosition();
  EXPECT_EQ(&c, only.GetNext(position));
  EXPECT_EQ(&d, only.GetNext(position));
  EXPECT_EQ(nullptr, position);
}

}  // namespace
