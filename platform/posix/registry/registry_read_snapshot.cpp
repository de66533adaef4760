#include "platform/internal/registry_read_snapshot.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/posix/registry/read_snapshot_scope.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/registry/registry_text.h"

namespace opossvc::detail {
namespace {

// The scopes of this thread: how deep it is in them, the stores that its
// reads joined since the outermost one began, and the code page that its
// calls convert text in.
struct ThreadScopes {
  int depth = 0;
  std::vector<std::shared_ptr<RegistryStore>> stores;
  std::optional<CallerCodePageScope> code_page;
};

thread_local ThreadScopes scopes;

}  // namespace

RegistryReadSnapshot::RegistryReadSnapshot() {
  if (scopes.depth++ == 0) scopes.code_page.emplace();
}

RegistryReadSnapshot::~RegistryReadSnapshot() {
  if (--scopes.depth > 0) return;
  scopes.code_page.reset();
  std::vector<std::shared_ptr<RegistryStore>> stores;
  stores.swap(scopes.stores);
  for (const std::shared_ptr<RegistryStore>& store : stores) store->EndReadSnapshot();
  // The next scope of the thread reuses the list's room.
  stores.clear();
  if (scopes.stores.empty()) scopes.stores.swap(stores);
}

bool InReadSnapshot() { return scopes.depth > 0; }

void JoinReadSnapshot(std::shared_ptr<RegistryStore> store) {
  if (std::find(scopes.stores.begin(), scopes.stores.end(), store) != scopes.stores.end()) return;
  scopes.stores.push_back(std::move(store));
}

}  // namespace opossvc::detail
