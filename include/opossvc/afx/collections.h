// The framework's collections: CStringList, and the arrays CArray,
// CByteArray, CWordArray, CDWordArray, CUIntArray, CStringArray, CPtrArray.
//
// Contract, as the window framework's:
// - A POSITION names one element of a list. It stays valid until that
//   element is removed; GetNext/GetPrev return the element and move the
//   position on, to null past the end. A null POSITION is never valid for
//   GetAt, SetAt, RemoveAt, InsertBefore/After... except that
//   InsertBefore(null) adds at the head and InsertAfter(null) at the tail.
// - Array indexes are INT_PTR. Elements added by SetSize or by an InsertAt
//   past the end are zero (value-initialised). An index outside the array
//   (GetAt, SetAt, ElementAt, operator[], RemoveAt) or a negative size or
//   count throws CInvalidArgException*; running out of memory, or growing
//   past kMaxBytes, throws CMemoryException* (exceptions.h).
// - Collections are CObjects and therefore not copyable; Copy/Append copy
//   the elements of another array.
// Not thread-safe: one collection, one thread at a time.
#ifndef OPOSSVC_AFX_COLLECTIONS_H_
#define OPOSSVC_AFX_COLLECTIONS_H_

#include <new>
#include <stdexcept>
#include <vector>

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/exceptions.h>
#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/types.h>

struct __POSITION {};
typedef __POSITION* POSITION;

class OPOSSVC_API CStringList : public CObject {
 public:
  explicit CStringList(INT_PTR nBlockSize = 10);
  ~CStringList() override;

  INT_PTR GetCount() const { return m_nCount; }
  INT_PTR GetSize() const { return m_nCount; }
  BOOL IsEmpty() const { return m_nCount == 0; }

  // Head and tail; on an empty list these throw CInvalidArgException*.
  CString& GetHead();
  const CString& GetHead() const;
  CString& GetTail();
  const CString& GetTail() const;
  CString RemoveHead();
  CString RemoveTail();

  POSITION AddHead(LPCTSTR newElement);
  POSITION AddHead(const CString& newElement);
  void AddHead(CStringList* pNewList);
  POSITION AddTail(LPCTSTR newElement);
  POSITION AddTail(const CString& newElement);
  void AddTail(CStringList* pNewList);
  void RemoveAll();

  POSITION GetHeadPosition() const;
  POSITION GetTailPosition() const;
  CString& GetNext(POSITION& rPosition);
  const CString& GetNext(POSITION& rPosition) const;
  CString& GetPrev(POSITION& rPosition);
  const CString& GetPrev(POSITION& rPosition) const;
  CString& GetAt(POSITION position);
  const CString& GetAt(POSITION position) const;
  void SetAt(POSITION pos, LPCTSTR newElement);
  void SetAt(POSITION pos, const CString& newElement);
  void RemoveAt(POSITION position);
  POSITION InsertBefore(POSITION position, LPCTSTR newElement);
  POSITION InsertBefore(POSITION position, const CString& newElement);
  POSITION InsertAfter(POSITION position, LPCTSTR newElement);
  POSITION InsertAfter(POSITION position, const CString& newElement);

  // The first element equal to searchValue (case-sensitive, whole
  // contents) after startAfter (from the head when null), or null.
  POSITION Find(LPCTSTR searchValue, POSITION startAfter = nullptr) const;
  // The position of the nIndex-th element from the head, or null.
  POSITION FindIndex(INT_PTR nIndex) const;

 private:
  struct CNode;
  static CNode* NodeOf(POSITION position);
  CNode* NewNode(const CString& value, CNode* pPrev, CNode* pNext);

  CNode* m_pNodeHead = nullptr;
  CNode* m_pNodeTail = nullptr;
  INT_PTR m_nCount = 0;
};

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
 public:
  CArray() = default;

  INT_PTR GetSize() const { return static_cast<INT_PTR>(m_data.size()); }
  INT_PTR GetCount() const { return GetSize(); }
  BOOL IsEmpty() const { return m_data.empty(); }
  INT_PTR GetUpperBound() const { return GetSize() - 1; }

  // Arrays are held to 2 GiB of elements, as on a 32-bit host; asking for
  // more throws the memory exception before anything is allocated.
  static constexpr INT_PTR kMaxBytes = INT_PTR{1} << 31;

  // nGrowBy is accepted for source compatibility; growth is amortised.
  void SetSize(INT_PTR nNewSize, INT_PTR /*nGrowBy*/ = -1) {
    if (nNewSize < 0) AfxThrowInvalidArgException();
    CheckGrowth(nNewSize, 0);
    Guarded([&] { m_data.resize(static_cast<size_t>(nNewSize)); });
  }
  void FreeExtra() { m_data.shrink_to_fit(); }
  void RemoveAll() { m_data.clear(); }

  const TYPE& GetAt(INT_PTR nIndex) const { return m_data[Checked(nIndex)]; }
  void SetAt(INT_PTR nIndex, ARG_TYPE newElement) { m_data[Checked(nIndex)] = newElement; }
  TYPE& ElementAt(INT_PTR nIndex) { return m_data[Checked(nIndex)]; }
  const TYPE& ElementAt(INT_PTR nIndex) const { return m_data[Checked(nIndex)]; }
  TYPE& operator[](INT_PTR nIndex) { return ElementAt(nIndex); }
  const TYPE& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
  // The elements in one block; null when the array is empty.
  TYPE* GetData() { return m_data.empty() ? nullptr : m_data.data(); }
  const TYPE* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }

  // Sets the element, growing the array first when nIndex is past its end.
  void SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement) {
    if (nIndex < 0) AfxThrowInvalidArgException();
    if (nIndex >= GetSize()) SetSize(nIndex + 1);
    m_data[static_cast<size_t>(nIndex)] = newElement;
  }
  // The index of the new element.
  INT_PTR Add(ARG_TYPE newElement) {
    CheckGrowth(GetSize(), 1);
    const TYPE copy = newElement;  // may be an element of this array
    Guarded([&] { m_data.push_back(copy); });
    return GetSize() - 1;
  }
  // The index of the first appended element.
  INT_PTR Append(const CArray& src) {
    const INT_PTR first = GetSize();
    CheckGrowth(first, src.GetSize());
    if (&src == this) {
      const std::vector<TYPE> copy = src.m_data;
      Guarded([&] { m_data.insert(m_data.end(), copy.begin(), copy.end()); });
    } else {
      Guarded([&] { m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end()); });
    }
    return first;
  }
  void Copy(const CArray& src) {
    if (&src != this) Guarded([&] { m_data = src.m_data; });
  }
  // Inserts nCount copies at nIndex; an index past the end first grows the
  // array to nIndex.
  void InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount = 1) {
    if (nIndex < 0 || nCount < 0) AfxThrowInvalidArgException();
    CheckGrowth(nIndex > GetSize() ? nIndex : GetSize(), nCount);
    const TYPE copy = newElement;
    if (nIndex > GetSize()) SetSize(nIndex);
    Guarded([&] {
      m_data.insert(m_data.begin() + nIndex, static_cast<size_t>(nCount), copy);
    });
  }
  void InsertAt(INT_PTR nStartIndex, const CArray* pNewArray) {
    if (nStartIndex < 0 || pNewArray == nullptr) AfxThrowInvalidArgException();
    CheckGrowth(nStartIndex > GetSize() ? nStartIndex : GetSize(), pNewArray->GetSize());
    const std::vector<TYPE> copy = pNewArray->m_data;
    if (nStartIndex > GetSize()) SetSize(nStartIndex);
    Guarded([&] { m_data.insert(m_data.begin() + nStartIndex, copy.begin(), copy.end()); });
  }
  void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1) {
    if (nIndex < 0 || nCount < 0 || nCount > GetSize() - nIndex) AfxThrowInvalidArgException();
    m_data.erase(m_data.begin() + nIndex, m_data.begin() + nIndex + nCount);
  }

 private:
  size_t Checked(INT_PTR nIndex) const {
    if (nIndex < 0 || nIndex >= GetSize()) AfxThrowInvalidArgException();
    return static_cast<size_t>(nIndex);
  }
  static void CheckGrowth(INT_PTR size, INT_PTR added) {
    const INT_PTR limit = kMaxBytes / static_cast<INT_PTR>(sizeof(TYPE));
    if (size > limit || added > limit - size) AfxThrowMemoryException();
  }
  // Runs a growing operation, turning the standard library's allocation
  // failures into the framework's memory exception.
  template <class F>
  static void Guarded(F&& grow) {
    try {
      grow();
    } catch (const std::bad_alloc&) {
      AfxThrowMemoryException();
    } catch (const std::length_error&) {
      AfxThrowMemoryException();
    }
  }

  std::vector<TYPE> m_data;
};

class CByteArray : public CArray<BYTE, BYTE> {};
class CWordArray : public CArray<WORD, WORD> {};
class CDWordArray : public CArray<DWORD, DWORD> {};
class CUIntArray : public CArray<UINT, UINT> {};
class CPtrArray : public CArray<void*, void*> {};
class CStringArray : public CArray<CString, const CString&> {};

#endif  // OPOSSVC_AFX_COLLECTIONS_H_
