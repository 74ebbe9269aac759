#include "ui/window_framework.h"

#include "platform/wide_text.h"

CIWndMap g_WndMap;

CIObList::Node* CIObList::AddTail(CIObject* object) noexcept {
  auto* node = static_cast<Node*>(ModuleAlloc(sizeof(Node)));
  if (!node) return nullptr;
  node->object = object;
  node->previous = tail_;
  node->next = nullptr;
  if (tail_) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  ++count_;
  return node;
}

CIObject* CIObList::GetNext(Position& position) const noexcept {
  Node* node = position;
  position = node->next;
  return node->object;
}

BOOL CIObList::Remove(CIObject* object) noexcept {
  for (Node* node = head_; node; node = node->next) {
    if (node->object == object) {
      RemoveAt(node);
      return TRUE;
    }
  }
  return FALSE;
}

CIObList::Node* CIObList::RemoveAt(Node* node) noexcept {
  Node* next = node->next;
  if (node->previous) {
    node->previous->next = next;
  } else {
    head_ = next;
  }
  if (next) {
    next->previous = node->previous;
  } else {
    tail_ = node->previous;
  }
  ModuleFree(node);
  --count_;
  return next;
}

void CIObList::RemoveAll() noexcept {
  Node* node = head_;
  while (node) {
    Node* next = node->next;
    ModuleFree(node);
    node = next;
  }
  count_ = 0;
  head_ = nullptr;
  tail_ = nullptr;
}

CIWnd* BindDialogMessage(HWND dialog, UINT message, CIWnd* initObject) noexcept {
  CIWnd* found = nullptr;
  if (message != WM_INITDIALOG) return g_WndMap.Lookup(dialog, found) ? found : nullptr;
  if (!initObject) return nullptr;
  initObject->window = dialog;
  if (g_WndMap.Add(initObject)) return initObject;
  // Unbound, the dialog could never be closed: it ends before it shows.
  EndDialog(dialog, kDialogOutOfMemory);
  return nullptr;
}

BOOL CIWndMap::Lookup(HWND window, CIWnd*& out) const noexcept {
  Position position = GetHeadPosition();
  while (position) {
    // Only window objects are ever added.
    auto* object = static_cast<CIWnd*>(GetNext(position));
    if (object->window == window) {
      out = object;
      return TRUE;
    }
  }
  return FALSE;
}
