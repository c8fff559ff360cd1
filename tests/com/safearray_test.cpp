#include <gtest/gtest.h>

#include "Platform/com/SafeArray.h"

using namespace Com;
using Rtl::Variant;

TEST(SafeArray, TwoDimensionalRowsAreSharedWithVariants) {
    // The shape GetRows answers: fields by rows.
    auto rows = TSafeArray::Create(Rtl::varVariant, {{3, 0}, {2, 0}});
    EXPECT_EQ(rows.GetDim(), 2);
    EXPECT_EQ(rows.GetElementCount(1), 3);
    EXPECT_EQ(rows.GetUBound(2), 1);
    EXPECT_EQ(rows.GetTotalCount(), 6u);
    EXPECT_EQ(rows.GetVarType(), Rtl::varVariant);
    for (int r = 0; r < 2; ++r)
        for (int f = 0; f < 3; ++f) rows.PutElement({f, r}, Variant(f * 10 + r));
    // The variant view reads the same elements with the runtime library's functions.
    const Variant v = std::move(rows).AsVariant();
    EXPECT_EQ(Rtl::VarArrayDimCount(v), 2);
    EXPECT_EQ(Rtl::VarArrayHighBound(v, 1), 2);
    EXPECT_EQ(v.GetElement({2, 1}).ToInteger(), 21);
    // And back: no copy of the elements.
    TSafeArray again(v);
    EXPECT_EQ(again.GetData(), Rtl::VarArrayData(v));
    EXPECT_EQ(again.GetElement({1, 0}).ToInteger(), 10);
}

TEST(SafeArray, WritesThroughAViewDoNotChangeTheVariant) {
    Variant v = Rtl::VarArrayOf({1, 2, 3});
    TSafeArray view(v);
    view.PutElement({0}, Variant(100));
    EXPECT_EQ(view.GetElement({0}).ToInteger(), 100);
    EXPECT_EQ(v.GetElement(0).ToInteger(), 1);
    // A by-reference array variant is followed.
    TSafeArray byRef(Variant::ByRef(&v));
    EXPECT_EQ(byRef.GetElement({2}).ToInteger(), 3);
}

TEST(SafeArray, BoundsAndIndexErrorsChangeNothing) {
    auto a = TSafeArray::CreateVector(Rtl::varInteger, 5, 3);  // indices 5..7
    EXPECT_EQ(a.GetLBound(1), 5);
    EXPECT_EQ(a.GetUBound(1), 7);
    a.PutElement({7}, Variant(9));
    EXPECT_THROW(a.PutElement({8}, Variant(1)), Rtl::EVariantBadIndexError);
    EXPECT_THROW(a.PutElement({4}, Variant(1)), Rtl::EVariantBadIndexError);
    EXPECT_THROW(a.GetElement({5, 0}), Rtl::EVariantBadIndexError);  // two indices for one dimension
    EXPECT_THROW(a.PutElement({5}, Variant("not a number")), Rtl::EVariantTypeCastError);
    EXPECT_EQ(a.GetElement({5}).ToInteger(), 0);
    EXPECT_EQ(a.GetElement({7}).ToInteger(), 9);
    EXPECT_THROW(a.GetLBound(2), Rtl::EVariantBadIndexError);
    EXPECT_THROW(TSafeArray(Variant(3)), Rtl::EVariantInvalidArgError);
    EXPECT_THROW(TSafeArray::Create(Rtl::varInteger, {{-1, 0}}), Rtl::EVariantArrayCreateError);
    TSafeArray none;
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.GetDim(), 0);
}

TEST(SafeArray, DataIsLaidOutFirstIndexFastest) {
    auto a = TSafeArray::Create(Rtl::varInteger, {{2, 1}, {3, 0}});
    auto* data = static_cast<int*>(a.AccessData());
    for (int i = 0; i < 6; ++i) data[i] = i;
    a.UnaccessData();
    EXPECT_EQ(a.GetElemSize(), 4);
    // Element (d1, d2) sits at (d1 - 1) + 2 * d2.
    EXPECT_EQ(a.GetElement({1, 0}).ToInteger(), 0);
    EXPECT_EQ(a.GetElement({2, 0}).ToInteger(), 1);
    EXPECT_EQ(a.GetElement({1, 2}).ToInteger(), 4);
    EXPECT_EQ(a.GetElement({2, 2}).ToInteger(), 5);
}

TEST(SafeArray, ByteVectors) {
    const unsigned char bytes[] = {0, 1, 0xFE, 0xFF};
    auto a = TSafeArray::FromBytes(bytes, sizeof bytes);
    EXPECT_EQ(a.GetVarType(), Rtl::varByte);
    EXPECT_EQ(a.GetLBound(1), 0);
    EXPECT_EQ(a.ToBytes(), (std::vector<Rtl::Byte>{0, 1, 0xFE, 0xFF}));
    EXPECT_EQ(Rtl::VarArrayToBytes(a.AsVariant()), a.ToBytes());
    EXPECT_THROW(TSafeArray(Rtl::VarArrayOf({1})).ToBytes(), Rtl::EVariantTypeCastError);
    EXPECT_TRUE(TSafeArray::FromBytes(nullptr, 0).ToBytes().empty());
}
