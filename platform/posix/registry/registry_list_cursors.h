// Where recent listings by index stopped, so that asking a key for the entry
// after the one it gave last (or for that one again) costs one indexed step
// instead of counting from the start of the list.
//
// A cursor tells where entry `index` of one key's subkeys or values was
// found, and the data version of the snapshot it was read in. The store
// continues from a cursor only when the snapshot it then reads has that
// same data version: nothing was committed since, by this connection or any
// other, so every index still names the same entry.
//
// Not thread-safe: the store's mutex guards it.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_LIST_CURSORS_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_LIST_CURSORS_H_

#include <array>
#include <cstdint>
#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

enum class ListKind { kSubkeys, kValues };

// An entry's place in its listing.
struct ListPosition {
  std::string key;  // subkeys: the name's key (registry_names.h)
  int64_t seq = 0;  // values: order of creation
};

struct ListCursor {
  int64_t key = 0;  // 0: slot unused
  ListKind kind = ListKind::kSubkeys;
  DWORD index = 0;
  unsigned version = 0;
  ListPosition position;
  uint64_t last_use = 0;
};

class ListCursors {
 public:
  // Enough for a few listings nested in each other, or run side by side.
  static constexpr size_t kSlots = 8;

  // A cursor of that listing at `index` or at the index just before it,
  // preferring the latter; null when there is none.
  const ListCursor* Near(int64_t key, ListKind kind, DWORD index) const;

  // Remembers where entry `index` is. Replaces the cursor that stood just
  // before it, else one at that index, else the one used least recently.
  void Remember(int64_t key, ListKind kind, DWORD index, unsigned version, ListPosition position);

  void Clear() { slots_ = {}; }

 private:
  ListCursor* Find(int64_t key, ListKind kind, DWORD index);

  std::array<ListCursor, kSlots> slots_{};
  uint64_t clock_ = 0;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_LIST_CURSORS_H_
