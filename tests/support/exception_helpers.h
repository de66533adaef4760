// What a framework call threw.
#ifndef OPOSSVC_TESTS_SUPPORT_EXCEPTION_HELPERS_H_
#define OPOSSVC_TESTS_SUPPORT_EXCEPTION_HELPERS_H_

#include <cstdio>
#include <string>

#include <opossvc/afx/exceptions.h>

namespace opossvc::test {

// Runs f and names the framework exception it threw, deleting it: "none",
// the class name or "COleException 0x<code>".
template <class F>
std::string Thrown(F&& f) {
  try {
    f();
  } catch (COleException* e) {
    char text[32];
    std::snprintf(text, sizeof text, "COleException 0x%08x", static_cast<unsigned>(e->m_sc));
    e->Delete();
    return text;
  } catch (CException* e) {
    std::string kind = e->GetRuntimeClass()->m_lpszClassName;
    e->Delete();
    return kind;
  }
  return "none";
}

}  // namespace opossvc::test

#endif  // OPOSSVC_TESTS_SUPPORT_EXCEPTION_HELPERS_H_
