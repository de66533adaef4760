#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/collections.h>

#include "tests/support/exception_helpers.h"

namespace {

using opossvc::test::Thrown;

TEST(CArray, SizesInsertsAndBounds) {
  CByteArray bytes;
  bytes.SetSize(3);
  bytes[1] = 7;
  EXPECT_EQ(bytes.Add(9), 3);
  bytes.InsertAt(1, 5, 2);
  bytes.InsertAt(8, 1);  // past the end: zeros up to it
  EXPECT_EQ(std::vector<BYTE>(bytes.GetData(), bytes.GetData() + bytes.GetSize()),
            (std::vector<BYTE>{0, 5, 5, 7, 0, 9, 0, 0, 1}));  // new elements are zero
  bytes.RemoveAt(0, 3);
  bytes.SetAtGrow(7, 4);
  EXPECT_EQ(bytes.GetAt(0) + bytes.GetAt(6) + bytes.GetAt(7), 7 + 0 + 4);
  EXPECT_EQ(Thrown([&] { bytes.GetAt(8); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.RemoveAt(7, 2); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.SetSize(-1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { bytes.SetSize(INTPTR_MAX); }), "CMemoryException");
  EXPECT_EQ(bytes.GetSize(), 8);  // unchanged by the failures

  CDWordArray a;
  a.Add(0xFFFFFFFFu);
  a.Add(2);
  a.Append(a);
  a.Add(a[0]);
  a.InsertAt(1, &a);
  EXPECT_EQ(std::vector<DWORD>(a.GetData(), a.GetData() + a.GetSize()),
            (std::vector<DWORD>{0xFFFFFFFFu, 0xFFFFFFFFu, 2, 0xFFFFFFFFu, 2, 0xFFFFFFFFu, 2,
                                0xFFFFFFFFu, 2, 0xFFFFFFFFu}));
}

}  // namespace
