// CObject, run-time class records and CCmdTarget.
//
// A class that wants run-time type information declares DECLARE_DYNAMIC
// (type only) or DECLARE_DYNCREATE (type and a default-constructing factory)
// in its body and the matching IMPLEMENT_ macro in one source file:
//
//   class CMyObject : public CObject {
//     DECLARE_DYNCREATE(CMyObject)
//    public:
//     CMyObject();
//   };
//   IMPLEMENT_DYNCREATE(CMyObject, CObject)
//
// RUNTIME_CLASS(CMyObject) then yields its CRuntimeClass record; the record
// names the class, its size, its schema (0xFFFF: not serializable), its
// factory (null for DECLARE_DYNAMIC) and its base class. Every class
// implemented with these macros is also entered, while its module is loaded,
// in a process-wide list that CRuntimeClass::FromName searches; this is what
// lets a host find a library's dynamically creatable classes by name.
//
// Thread safety: records are immutable; the name list may be searched from
// any thread while modules load and unload.
#ifndef OPOSSVC_AFX_OBJECT_H_
#define OPOSSVC_AFX_OBJECT_H_

#include <opossvc/afx/msgmap.h>
#include <opossvc/export.h>
#include <opossvc/win32/types.h>

class CObject;

struct OPOSSVC_API CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;                   // 0xFFFF for classes without serialization support
  CObject* (*m_pfnCreateObject)();  // null unless dynamically creatable
  CRuntimeClass* m_pBaseClass;      // null for CObject
  CRuntimeClass* m_pNextClass;      // unused; kept for source compatibility

  // A new heap instance from the factory, or null when the class has no
  // factory or the allocation yields none.
  CObject* CreateObject() const;
  // True when this class is pBaseClass or derives from it.
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

  // The registered class of that exact (case-sensitive) name, or null.
  static CRuntimeClass* FromName(LPCSTR lpszClassName);
  static CRuntimeClass* FromName(LPCWSTR lpszClassName);
  // FromName(...)->CreateObject(), or null when either step fails.
  static CObject* CreateObject(LPCSTR lpszClassName);
  static CObject* CreateObject(LPCWSTR lpszClassName);
};

// Enters a run-time class in the name list for as long as it lives. The
// IMPLEMENT_ macros define one of these per class at namespace scope.
struct OPOSSVC_API AFX_CLASSINIT {
  explicit AFX_CLASSINIT(const CRuntimeClass* pNewClass);
  ~AFX_CLASSINIT();
  AFX_CLASSINIT(const AFX_CLASSINIT&) = delete;
  AFX_CLASSINIT& operator=(const AFX_CLASSINIT&) = delete;

  const CRuntimeClass* m_pClass;
  AFX_CLASSINIT* m_pNext;  // list link, owned by the name list
};

// clang-format off
#define RUNTIME_CLASS(class_name) \
  (const_cast<CRuntimeClass*>(&class_name::class##class_name))

#define DECLARE_DYNAMIC(class_name)             \
 public:                                        \
  static const CRuntimeClass class##class_name; \
  virtual CRuntimeClass* GetRuntimeClass() const;

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* CreateObject();

#define OPOSSVC_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew) \
  const CRuntimeClass class_name::class##class_name = {                              \
      #class_name, static_cast<int>(sizeof(class_name)), wSchema, pfnNew,            \
      RUNTIME_CLASS(base_class_name), nullptr};                                      \
  CRuntimeClass* class_name::GetRuntimeClass() const {                               \
    return RUNTIME_CLASS(class_name);                                                \
  }                                                                                  \
  static const AFX_CLASSINIT opossvc_classinit_##class_name(RUNTIME_CLASS(class_name));

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
  OPOSSVC_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)              \
  CObject* class_name::CreateObject() { return new class_name; }      \
  OPOSSVC_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, \
                                 &class_name::CreateObject)
// clang-format on

// The root of the framework's classes: a virtual destructor and run-time
// type information. Not copyable.
class OPOSSVC_API CObject {
 public:
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject();

  // True when this object's class is pClass or derives from it.
  BOOL IsKindOf(const CRuntimeClass* pClass) const;
  // True when the class supports serialization (schema other than 0xFFFF).
  BOOL IsSerializable() const;

  static const CRuntimeClass classCObject;

  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;

 protected:
  CObject() = default;
};

// A CObject that can own a message map; the base of CWnd and CWinThread.
class OPOSSVC_API CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget();

 protected:
  // CCmdTarget's own map is empty and ends the chain.
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

#endif  // OPOSSVC_AFX_OBJECT_H_
