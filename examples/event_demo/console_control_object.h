// A console control object: an IDispatch that offers the members a service
// object calls (the five event methods, DirectIO and the two description
// properties) and prints every call it receives, one line each, in order.
//
// Used on the service object's window thread only, as a control object is.
#ifndef OPOSSVC_EXAMPLES_EVENT_DEMO_CONSOLE_CONTROL_OBJECT_H_
#define OPOSSVC_EXAMPLES_EVENT_DEMO_CONSOLE_CONTROL_OBJECT_H_

#include <cstdio>
#include <string>
#include <vector>

#include <opossvc/opossvc.h>

class ConsoleControlObject : public IDispatch {
 public:
  explicit ConsoleControlObject(std::FILE* out) : out_(out) {}

  // Every event call so far, as printed.
  const std::vector<std::string>& calls() const { return calls_; }

  // IUnknown. The object lives on the stack of its owner; references are
  // counted only to show that the library neither adds nor releases any.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  ULONG references() const { return references_; }

  // IDispatch.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                          LCID lcid, DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

 private:
  void Record(std::string line);

  std::FILE* out_;
  ULONG references_ = 1;
  std::vector<std::string> calls_;
};

#endif  // OPOSSVC_EXAMPLES_EVENT_DEMO_CONSOLE_CONTROL_OBJECT_H_
