#include <opossvc/flags.h>

#include "svcbase/delivery_flags.h"

namespace opossvc {

using detail::LoadFlag;
using detail::StoreFlag;

void SetFlag(LONG& flag, LONG value) { StoreFlag(flag, value); }
void SetFlag(DWORD& flag, DWORD value) { StoreFlag(flag, value); }
LONG GetFlag(const LONG& flag) { return LoadFlag(flag); }
DWORD GetFlag(const DWORD& flag) { return LoadFlag(flag); }

}  // namespace opossvc
