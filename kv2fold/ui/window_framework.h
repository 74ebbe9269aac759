// The object layer under the module's dialogs: a root class, a list of object
// pointers, window objects and the one map from window handles to them, by
// which a dialog procedure finds the object a message is for.
//
// The binding protocol every dialog follows:
//  1. the code that runs a dialog builds its object (a CIWnd) on the stack and
//     passes it to DialogBoxParamW (through the bridge) as the parameter;
//  2. at WM_INITDIALOG the procedure stores the window handle in the object
//     and adds it to g_WndMap (a null parameter binds nothing: FALSE); when
//     the map has no memory for it the dialog ends at once, answering
//     kDialogOutOfMemory, since none of its buttons could be handled;
//  3. every other message it handles is looked up in g_WndMap first; a window
//     not in the map is answered FALSE;
//  4. unhandled messages answer FALSE and no message result is ever set;
//  5. the object leaves the map in its destructor, not at WM_DESTROY.
// Steps 2 and 3 are BoundDialog's, which every dialog procedure calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>

class CIObject {
 public:
  constexpr CIObject() noexcept = default;
  virtual ~CIObject() = default;
};

// A doubly linked list of object pointers. The list owns its nodes, never
// the objects.
class CIObList {
 public:
  struct Node {
    CIObject* object;
    Node* previous;
    Node* next;
  };
  using Position = Node*;

  constexpr CIObList() noexcept = default;
  virtual ~CIObList() { RemoveAll(); }
  CIObList(const CIObList&) = delete;
  CIObList& operator=(const CIObList&) = delete;

  // The new node, or null when memory runs out.
  Node* AddTail(CIObject* object) noexcept;
  Position GetHeadPosition() const noexcept { return head_; }
  // The object at position; position moves on (null after the tail).
  CIObject* GetNext(Position& position) const noexcept;
  // Unlinks the first node, from the head, that holds object.
  BOOL Remove(CIObject* object) noexcept;
  // Unlinks and frees node; returns the node that followed it.
  Node* RemoveAt(Node* node) noexcept;
  void RemoveAll() noexcept;

  uint32_t count() const noexcept { return count_; }
  Node* head() const noexcept { return head_; }
  Node* tail() const noexcept { return tail_; }

 private:
  uint32_t count_ = 0;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
};

// A window object: the handle is set when its dialog procedure binds it.
class CIWnd : public CIObject {
 public:
  HWND window = nullptr;
};

class CIWndMap : private CIObList {
 public:
  constexpr CIWndMap() noexcept = default;

  BOOL Add(CIWnd* object) noexcept { return AddTail(object) != nullptr; }
  // The first object, from the head, bound to window; out is untouched when
  // there is none.
  BOOL Lookup(HWND window, CIWnd*& out) const noexcept;
  BOOL Remove(CIWnd* object) noexcept { return CIObList::Remove(object); }
  using CIObList::count;
};

// Starts empty without construction code; its destructor, run when the module
// unloads, frees the nodes and leaves the objects alone.
extern CIWndMap g_WndMap;

// What a dialog run answers when its object could not join g_WndMap: the
// module's out-of-memory result, which is no button's id and not the -1 of a
// dialog that could not be created.
constexpr INT_PTR kDialogOutOfMemory = E_OUTOFMEMORY;

// The binding of one message: at WM_INITDIALOG initObject (null binds
// nothing) gets the window and joins g_WndMap, or ends the dialog with
// kDialogOutOfMemory; any other message finds its object in g_WndMap. The
// object, or null when the procedure answers FALSE.
CIWnd* BindDialogMessage(HWND dialog, UINT message, CIWnd* initObject) noexcept;

// BindDialogMessage for the procedure of Dialog, whose runner passed a
// Dialog* as the initialisation parameter. Only that procedure binds its
// windows, so what the map holds for them is a Dialog.
template <typename Dialog>
Dialog* BoundDialog(HWND dialog, UINT message, LPARAM lParam) noexcept {
  static_assert(std::is_base_of_v<CIWnd, Dialog>, "dialog objects are window objects");
  CIWnd* initObject = message == WM_INITDIALOG ? reinterpret_cast<Dialog*>(lParam) : nullptr;
  return static_cast<Dialog*>(BindDialogMessage(dialog, message, initObject));
}
