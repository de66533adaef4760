#include "platform/posix/registry/registry_list_cursors.h"

#include <utility>

namespace opossvc::detail {

const ListCursor* ListCursors::Near(int64_t key, ListKind kind, DWORD index) const {
  const ListCursor* same = nullptr;
  for (const ListCursor& cursor : slots_) {
    if (cursor.key != key || cursor.key == 0 || cursor.kind != kind) continue;
    if (index > 0 && cursor.index == index - 1) return &cursor;
    if (cursor.index == index && same == nullptr) same = &cursor;
  }
  return same;
}

ListCursor* ListCursors::Find(int64_t key, ListKind kind, DWORD index) {
  for (ListCursor& cursor : slots_) {
    if (cursor.key == key && cursor.key != 0 && cursor.kind == kind && cursor.index == index) {
      return &cursor;
    }
  }
  return nullptr;
}

void ListCursors::Remember(int64_t key, ListKind kind, DWORD index, unsigned version,
                           ListPosition position) {
  ListCursor* slot = index > 0 ? Find(key, kind, index - 1) : nullptr;
  if (slot == nullptr) slot = Find(key, kind, index);
  if (slot == nullptr) {
    slot = &slots_[0];
    for (ListCursor& cursor : slots_) {
      if (cursor.last_use < slot->last_use) slot = &cursor;
    }
  }
  slot->key = key;
  slot->kind = kind;
  slot->index = index;
  slot->version = version;
  slot->position = std::move(position);
  slot->last_use = ++clock_;
}

}  // namespace opossvc::detail
