#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/collections.h>

namespace {

std::vector<std::string> Contents(const CStringList& list) {
  std::vector<std::string> out;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
    out.emplace_back(list.GetNext(pos).GetString());
  }
  return out;
}

template <class F>
std::string Thrown(F&& f) {
  try {
    f();
  } catch (CException* e) {
    std::string kind = e->GetRuntimeClass()->m_lpszClassName;
    e->Delete();
    return kind;
  }
  return "none";
}

TEST(CStringList, KeepsOrderThroughInsertsAndRemovals) {
  CStringList list;
  list.AddTail("b");
  list.AddHead("a");
  POSITION c = list.AddTail(CString("c"));
  list.InsertBefore(c, "b2");
  list.InsertAfter(c, "d");
  list.InsertBefore(nullptr, "first");
  list.InsertAfter(nullptr, "last");
  EXPECT_EQ(Contents(list), (std::vector<std::string>{"first", "a", "b", "b2", "c", "d", "last"}));
  EXPECT_EQ(list.GetCount(), 7);

  list.RemoveAt(list.Find("b2"));
  list.RemoveAt(list.GetHeadPosition());
  list.RemoveAt(list.GetTailPosition());
  EXPECT_EQ(Contents(list), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(list.RemoveHead(), "a");
  EXPECT_EQ(list.RemoveTail(), "d");
  EXPECT_EQ(list.GetHead(), "b");
  EXPECT_EQ(list.GetTail(), "c");

  POSITION pos = list.GetTailPosition();
  EXPECT_EQ(list.GetPrev(pos), "c");
  EXPECT_EQ(list.GetPrev(pos), "b");
  EXPECT_EQ(pos, nullptr);
  list.SetAt(list.GetHeadPosition(), "B");
  EXPECT_EQ(list.GetAt(list.GetHeadPosition()), "B");

  list.RemoveAll();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
  EXPECT_EQ(Thrown([&] { list.RemoveHead(); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { list.GetTail(); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { list.GetAt(nullptr); }), "CInvalidArgException");
}

TEST(CStringList, FindAndFindIndex) {
  CStringList list;
  for (const char* s : {"x", "y", "x", "z"}) list.AddTail(s);
  POSITION first = list.Find("x");
  POSITION second = list.Find("x", first);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(list.Find("x", second), nullptr);
  EXPECT_EQ(list.Find("X"), nullptr);  // case-sensitive
  EXPECT_EQ(list.FindIndex(2), second);
  EXPECT_EQ(list.FindIndex(4), nullptr);
  EXPECT_EQ(list.FindIndex(-1), nullptr);
}

TEST(CStringList, AddsListsIncludingItself) {
  CStringList list, other;
  list.AddTail("a");
  list.AddTail("b");
  other.AddTail("1");
  other.AddTail("2");
  list.AddHead(&other);
  list.AddTail(&other);
  EXPECT_EQ(Contents(list), (std::vector<std::string>{"1", "2", "a", "b", "1", "2"}));
  other.AddTail(&other);
  EXPECT_EQ(Contents(other), (std::vector<std::string>{"1", "2", "1", "2"}));
  other.AddHead(other.GetTail());  // an element of the list itself
  EXPECT_EQ(other.GetHead(), "2");
}

TEST(CArray, SizesInsertsAndBounds) {
  CByteArray bytes;
  bytes.SetSize(3);
  EXPECT_EQ(bytes.GetSize(), 3);
  EXPECT_EQ(bytes.GetAt(2), 0);  // new elements are zero
  bytes[1] = 7;
  EXPECT_EQ(bytes.Add(9), 3);
  bytes.InsertAt(1, 5, 2);
  EXPECT_EQ(std::vector<BYTE>(bytes.GetData(), bytes.GetData() + bytes.GetSize()),
            (std::vector<BYTE>{0, 5, 5, 7, 0, 9}));
  bytes.InsertAt(8, 1);  // past the end: zeros up to it
  EXPECT_EQ(bytes.GetSize(), 9);
  EXPECT_EQ(bytes.GetAt(7), 0);
  EXPECT_EQ(bytes.GetAt(8), 1);
  bytes.RemoveAt(0, 3);
  EXPECT_EQ(bytes.GetAt(0), 7);
  bytes.SetAtGrow(10, 4);
  EXPECT_EQ(bytes.GetUpperBound(), 10);

  EXPECT_EQ(Thrown([&] { bytes.GetAt(11); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.SetAt(-1, 0); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.RemoveAt(10, 2); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.SetSize(-1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.SetSize(INTPTR_MAX); }), "CMemoryException");
  EXPECT_EQ(bytes.GetSize(), 11);  // unchanged by the failures

  bytes.RemoveAll();
  EXPECT_TRUE(bytes.IsEmpty());
  EXPECT_EQ(bytes.GetData(), nullptr);
}

TEST(CArray, CopiesAndAppendsIncludingItself) {
  CDWordArray a;
  a.Add(0xFFFFFFFFu);
  a.Add(2);
  a.Append(a);
  EXPECT_EQ(a.GetSize(), 4);
  EXPECT_EQ(a[2], 0xFFFFFFFFu);
  a.Add(a[0]);
  EXPECT_EQ(a[4], 0xFFFFFFFFu);
  CUIntArray b;
  b.Add(1);
  CUIntArray c;
  c.Copy(b);
  c.InsertAt(0, &b);
  EXPECT_EQ(c.GetSize(), 2);
  CStringArray strings;
  strings.Add("a");
  strings.Add(CString("b\0c", 3));
  EXPECT_EQ(strings[1].GetLength(), 3);
}

}  // namespace
