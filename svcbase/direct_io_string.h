// The automation string that a direct-I/O record carries.
//
// A direct-I/O record's third value is the address of the BSTR variable
// that was handed to the control object. Once the record is done with
// (delivered, dropped, or removed with the rest of the queue at a close),
// the string that variable now holds (the control object may have replaced
// it) is freed, and the variable is cleared so that a later free or
// reallocation through it cannot free the string a second time.
#ifndef OPOSSVC_SVCBASE_DIRECT_IO_STRING_H_
#define OPOSSVC_SVCBASE_DIRECT_IO_STRING_H_

#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline void FreeDirectIOString(ULONG_PTR variable_address) {
  if (variable_address == 0) return;
  BSTR* variable = reinterpret_cast<BSTR*>(variable_address);
  if (*variable != nullptr) {
    SysFreeString(*variable);
    *variable = nullptr;
  }
}

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_DIRECT_IO_STRING_H_
