#include <opossvc/afx/collections.h>

#include <new>
#include <utility>

struct CStringList::CNode : public __POSITION {
  CNode* pNext;
  CNode* pPrev;
  CString data;
};

CStringList::CStringList(INT_PTR /*nBlockSize*/) {}

CStringList::~CStringList() { RemoveAll(); }

CStringList::CNode* CStringList::NodeOf(POSITION position) {
  if (position == nullptr) AfxThrowInvalidArgException();
  return static_cast<CNode*>(position);
}

CStringList::CNode* CStringList::NewNode(const CString& value, CNode* pPrev, CNode* pNext) {
  CString copy(value);  // may be an element of this list
  CNode* node = new (std::nothrow) CNode();
  if (node == nullptr) AfxThrowMemoryException();
  node->data = std::move(copy);
  node->pPrev = pPrev;
  node->pNext = pNext;
  if (pPrev != nullptr) {
    pPrev->pNext = node;
  } else {
    m_pNodeHead = node;
  }
  if (pNext != nullptr) {
    pNext->pPrev = node;
  } else {
    m_pNodeTail = node;
  }
  ++m_nCount;
  return node;
}

CString& CStringList::GetHead() {
  if (m_pNodeHead == nullptr) AfxThrowInvalidArgException();
  return m_pNodeHead->data;
}

const CString& CStringList::GetHead() const {
  if (m_pNodeHead == nullptr) AfxThrowInvalidArgException();
  return m_pNodeHead->data;
}

CString& CStringList::GetTail() {
  if (m_pNodeTail == nullptr) AfxThrowInvalidArgException();
  return m_pNodeTail->data;
}

const CString& CStringList::GetTail() const {
  if (m_pNodeTail == nullptr) AfxThrowInvalidArgException();
  return m_pNodeTail->data;
}

CString CStringList::RemoveHead() {
  if (m_pNodeHead == nullptr) AfxThrowInvalidArgException();
  CString value = std::move(m_pNodeHead->data);
  RemoveAt(m_pNodeHead);
  return value;
}

CString CStringList::RemoveTail() {
  if (m_pNodeTail == nullptr) AfxThrowInvalidArgException();
  CString value = std::move(m_pNodeTail->data);
  RemoveAt(m_pNodeTail);
  return value;
}

POSITION CStringList::AddHead(LPCTSTR newElement) { return AddHead(CString(newElement)); }

POSITION CStringList::AddHead(const CString& newElement) {
  return NewNode(newElement, nullptr, m_pNodeHead);
}

void CStringList::AddHead(CStringList* pNewList) {
  if (pNewList == nullptr) AfxThrowInvalidArgException();
  // From its tail backwards, so that the other list keeps its order; a list
  // added to itself is walked only over the elements it had.
  const INT_PTR count = pNewList->m_nCount;
  POSITION pos = pNewList->GetTailPosition();
  for (INT_PTR i = 0; i < count; ++i) {
    CNode* node = NodeOf(pos);
    pos = node->pPrev;
    AddHead(node->data);
  }
}

POSITION CStringList::AddTail(LPCTSTR newElement) { return AddTail(CString(newElement)); }

POSITION CStringList::AddTail(const CString& newElement) {
  return NewNode(newElement, m_pNodeTail, nullptr);
}

void CStringList::AddTail(CStringList* pNewList) {
  if (pNewList == nullptr) AfxThrowInvalidArgException();
  const INT_PTR count = pNewList->m_nCount;
  POSITION pos = pNewList->GetHeadPosition();
  for (INT_PTR i = 0; i < count; ++i) {
    CNode* node = NodeOf(pos);
    pos = node->pNext;
    AddTail(node->data);
  }
}

void CStringList::RemoveAll() {
  for (CNode* node = m_pNodeHead; node != nullptr;) {
    CNode* next = node->pNext;
    delete node;
    node = next;
  }
  m_pNodeHead = m_pNodeTail = nullptr;
  m_nCount = 0;
}

POSITION CStringList::GetHeadPosition() const { return m_pNodeHead; }

POSITION CStringList::GetTailPosition() const { return m_pNodeTail; }

CString& CStringList::GetNext(POSITION& rPosition) {
  CNode* node = NodeOf(rPosition);
  rPosition = node->pNext;
  return node->data;
}

const CString& CStringList::GetNext(POSITION& rPosition) const {
  CNode* node = NodeOf(rPosition);
  rPosition = node->pNext;
  return node->data;
}

CString& CStringList::GetPrev(POSITION& rPosition) {
  CNode* node = NodeOf(rPosition);
  rPosition = node->pPrev;
  return node->data;
}

const CString& CStringList::GetPrev(POSITION& rPosition) const {
  CNode* node = NodeOf(rPosition);
  rPosition = node->pPrev;
  return node->data;
}

CString& CStringList::GetAt(POSITION position) { return NodeOf(position)->data; }

const CString& CStringList::GetAt(POSITION position) const { return NodeOf(position)->data; }

void CStringList::SetAt(POSITION pos, LPCTSTR newElement) { NodeOf(pos)->data = newElement; }

void CStringList::SetAt(POSITION pos, const CString& newElement) {
  NodeOf(pos)->data = newElement;
}

void CStringList::RemoveAt(POSITION position) {
  CNode* node = NodeOf(position);
  if (node->pPrev != nullptr) {
    node->pPrev->pNext = node->pNext;
  } else {
    m_pNodeHead = node->pNext;
  }
  if (node->pNext != nullptr) {
    node->pNext->pPrev = node->pPrev;
  } else {
    m_pNodeTail = node->pPrev;
  }
  delete node;
  --m_nCount;
}

POSITION CStringList::InsertBefore(POSITION position, LPCTSTR newElement) {
  return InsertBefore(position, CString(newElement));
}

POSITION CStringList::InsertBefore(POSITION position, const CString& newElement) {
  if (position == nullptr) return AddHead(newElement);
  CNode* node = NodeOf(position);
  return NewNode(newElement, node->pPrev, node);
}

POSITION CStringList::InsertAfter(POSITION position, LPCTSTR newElement) {
  return InsertAfter(position, CString(newElement));
}

POSITION CStringList::InsertAfter(POSITION position, const CString& newElement) {
  if (position == nullptr) return AddTail(newElement);
  CNode* node = NodeOf(position);
  return NewNode(newElement, node, node->pNext);
}

POSITION CStringList::Find(LPCTSTR searchValue, POSITION startAfter) const {
  CNode* node = startAfter == nullptr ? m_pNodeHead : NodeOf(startAfter)->pNext;
  for (; node != nullptr; node = node->pNext) {
    if (node->data == searchValue) return node;
  }
  return nullptr;
}

POSITION CStringList::FindIndex(INT_PTR nIndex) const {
  if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
  CNode* node = m_pNodeHead;
  while (nIndex-- > 0) node = node->pNext;
  return node;
}
