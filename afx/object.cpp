#include <opossvc/afx/object.h>

#include <cstring>
#include <mutex>
#include <type_traits>

#include <opossvc/thread_annotations.h>

namespace opossvc::detail {
namespace {

// The run-time classes of every loaded module, newest first. Entries are the
// AFX_CLASSINIT objects themselves, so registering allocates nothing and can
// run during static initialization in any order.
class ClassList {
 public:
  static ClassList& Get() {
    // Never destroyed: modules unregister from their static destructors,
    // which may run after this file's.
    static ClassList* list = new ClassList;
    return *list;
  }

  void Add(AFX_CLASSINIT* init) {
    std::lock_guard<std::mutex> lock(mutex_);
    init->m_pNext = head_;
    head_ = init;
  }

  void Remove(AFX_CLASSINIT* init) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (AFX_CLASSINIT** link = &head_; *link != nullptr; link = &(*link)->m_pNext) {
      if (*link == init) {
        *link = init->m_pNext;
        return;
      }
    }
  }

  // Names are compared as ASCII; a UTF-16 name with any unit above 0x7F
  // cannot match a C++ identifier and finds nothing.
  template <class Char>
  CRuntimeClass* Find(const Char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (AFX_CLASSINIT* it = head_; it != nullptr; it = it->m_pNext) {
      if (SameName(it->m_pClass->m_lpszClassName, name)) {
        return const_cast<CRuntimeClass*>(it->m_pClass);
      }
    }
    return nullptr;
  }

 private:
  template <class Char>
  static bool SameName(const char* a, const Char* b) {
    for (;; ++a, ++b) {
      if (static_cast<unsigned char>(*a) != static_cast<std::make_unsigned_t<Char>>(*b)) {
        return false;
      }
      if (*a == '\0') return true;
    }
  }

  std::mutex mutex_;
  AFX_CLASSINIT* head_ = nullptr;  // guarded by mutex_
};

}  // namespace
}  // namespace opossvc::detail

using opossvc::detail::ClassList;

AFX_CLASSINIT::AFX_CLASSINIT(const CRuntimeClass* pNewClass)
    : m_pClass(pNewClass), m_pNext(nullptr) {
  ClassList::Get().Add(this);
}

AFX_CLASSINIT::~AFX_CLASSINIT() { ClassList::Get().Remove(this); }

CObject* CRuntimeClass::CreateObject() const {
  if (m_pfnCreateObject == nullptr) return nullptr;
  return m_pfnCreateObject();
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  if (pBaseClass == nullptr) return FALSE;
  for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
    if (c == pBaseClass) return TRUE;
  }
  return FALSE;
}

CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  return ClassList::Get().Find(lpszClassName);
}

CRuntimeClass* CRuntimeClass::FromName(LPCWSTR lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  return ClassList::Get().Find(lpszClassName);
}

CObject* CRuntimeClass::CreateObject(LPCSTR lpszClassName) {
  CRuntimeClass* c = FromName(lpszClassName);
  return c == nullptr ? nullptr : c->CreateObject();
}

CObject* CRuntimeClass::CreateObject(LPCWSTR lpszClassName) {
  CRuntimeClass* c = FromName(lpszClassName);
  return c == nullptr ? nullptr : c->CreateObject();
}

const CRuntimeClass CObject::classCObject = {
    "CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr, nullptr};
static const AFX_CLASSINIT opossvc_classinit_CObject(RUNTIME_CLASS(CObject));

CObject::~CObject() = default;

CRuntimeClass* CObject::GetRuntimeClass() const { return RUNTIME_CLASS(CObject); }

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const { return GetRuntimeClass()->m_wSchema != 0xFFFF; }

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

CCmdTarget::~CCmdTarget() = default;

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {
      {0, 0, 0, 0, AfxSig_end, static_cast<AFX_PMSG>(nullptr)}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }
