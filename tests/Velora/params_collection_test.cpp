// TParams: look-up by name, name lists and value arrays, shared values by
// name, copying and comparing collections, and form files.

#include <gtest/gtest.h>

#include "Velora/Adods/Params.h"
#include "tests/db/TestUtil.h"

using namespace Velora;
using namespace Db;
using DbTest::MessageOf;
using Rtl::String;
using Rtl::Variant;

namespace {

TParam* Own(TParams& params, int index) { return static_cast<TParam*>(params.TCollection::GetItem(index)); }

TEST(ParamsLookup, FindParamIgnoresCaseAndTakesTheFirstMatch) {
    TParams params;
    TParam* a = params.CreateParam(ftInteger, "Größe", ptInput);
    params.CreateParam(ftString, "größe", ptInput);
    EXPECT_EQ(params.FindParam("größe"), a);
    EXPECT_EQ(params.FindParam("GRÖßE"), a);
    EXPECT_EQ(params.FindParam("x"), nullptr);
    EXPECT_EQ(params.ParamByName("Größe"), a);
}

TEST(ParamsLookup, ParamByNameNamesTheMissingParameterAndTheDataset) {
    TParams loose;
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { loose.ParamByName("Nope"); }), "Parameter 'Nope' not found");
    auto ds = DbTest::NewDataSet(DbTest::NumberTable(0), "Orders");
    TParams owned(ds.get());
    EXPECT_EQ(owned.GetDataSet(), ds.get());
    EXPECT_EQ(owned.GetOwner(), ds.get());
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { owned.ParamByName("Nope"); }), "Orders: Parameter 'Nope' not found");
}

TEST(ParamsLookup, CreateParamSetsDirectionNameAndType) {
    TParams params;
    TParam* p = params.CreateParam(ftDate, "When", ptInputOutput);
    EXPECT_EQ(params.GetCount(), 1);
    EXPECT_EQ(p->GetName(), "When");
    EXPECT_EQ(p->GetDataType(), ftDate);
    EXPECT_EQ(p->GetParamType(), ptInputOutput);
    EXPECT_TRUE(p->IsNull());
    EXPECT_FALSE(p->GetBound());
    EXPECT_EQ(p->GetDisplayName(), "When");
    EXPECT_EQ(params.CreateParam(ftInteger, "", ptInput)->GetDisplayName(), "TParam");
    EXPECT_EQ(TParam::Create(&params, ptOutput)->GetParamType(), ptOutput);
    EXPECT_EQ(params.GetCount(), 3);
}

TEST(ParamsLookup, ParamListsAndValueArrays) {
    TParams params;
    params.CreateParam(ftInteger, "a", ptInput)->SetAsInteger(1);
    params.CreateParam(ftString, "b", ptInput)->SetAsString("two");
    params.CreateParam(ftFloat, "c", ptInput)->SetAsFloat(3.5);

    std::vector<TParam*> list;
    params.GetParamList(list, " c ;a;\tb");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->GetName(), "c");
    EXPECT_EQ(list[1]->GetName(), "a");
    EXPECT_EQ(list[2]->GetName(), "b");
    Rtl::TList tlist;
    params.GetParamList(&tlist, "b");
    ASSERT_EQ(tlist.Count(), 1);
    EXPECT_EQ(tlist.Get(0), Own(params, 1));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { params.GetParamList(list, "a;zz"); }), "Parameter 'zz' not found");

    Variant values = params.GetParamValue("a;b;c");
    ASSERT_TRUE(values.IsArray());
    EXPECT_EQ(Rtl::VarArrayLowBound(values, 1), 0);
    EXPECT_EQ(Rtl::VarArrayHighBound(values, 1), 2);
    EXPECT_EQ(values.GetElement(0).ToInteger(), 1);
    EXPECT_EQ(values.GetElement(1).ToString(), "two");
    EXPECT_EQ(values.GetElement(2).ToDouble(), 3.5);
    EXPECT_EQ(params.GetParamValue("b").ToString(), "two");

    params.SetParamValue("c;a", Rtl::VarArrayOf({Variant(9.25), Variant(8)}));
    EXPECT_EQ(params.ParamByName("c")->GetAsFloat(), 9.25);
    EXPECT_EQ(params.ParamByName("a")->GetAsInteger(), 8);
    params.SetParamValue("b", Variant("single"));
    EXPECT_EQ(params.ParamByName("b")->GetAsString(), "single");
}

TEST(ParamsLookup, ABadValueListChangesNothing) {
    TParams params;
    params.CreateParam(ftInteger, "a", ptInput)->SetAsInteger(1);
    params.CreateParam(ftInteger, "b", ptInput)->SetAsInteger(2);
    EXPECT_THROW(params.SetParamValue("a;b", Rtl::VarArrayOf({Variant(10)})), Rtl::EVariantError);
    EXPECT_THROW(params.SetParamValue("a;b", Variant(10)), Rtl::EVariantError);
    EXPECT_THROW(params.SetParamValue("a;nope", Rtl::VarArrayOf({Variant(10), Variant(20)})), EDatabaseError);
    EXPECT_EQ(params.ParamByName("a")->GetAsInteger(), 1);
    EXPECT_EQ(params.ParamByName("b")->GetAsInteger(), 2);
}

// ---- Shared values by name -----------------------------------------------------------------------

TEST(ParamsSharing, ItemsWithOneNameShareTheFirstItemsValue) {
    TParams params;
    TParam* first = params.CreateParam(ftInteger, "ID", ptInput);
    TParam* second = params.CreateParam(ftInteger, "id", ptInput);
    params.CreateParam(ftString, "other", ptInput);  // an update after both exist

    EXPECT_EQ(params.Items(1), first);
    EXPECT_EQ(second->ParamRef(), first);
    second->SetValue(Variant(5));
    EXPECT_EQ(first->GetValue().ToInteger(), 5);
    EXPECT_EQ(second->GetValue().ToInteger(), 5) << "Value reads the owner";
    EXPECT_TRUE(second->IsNull()) << "IsNull reads the item's own flag";
    EXPECT_EQ(second->GetAsInteger(), 0) << "typed getters read the item's own value";

    second->SetDataType(ftSmallint);
    EXPECT_EQ(first->GetDataType(), ftSmallint);
    second->SetSize(9);
    second->SetParamType(ptOutput);
    EXPECT_EQ(first->GetSize(), 9);
    EXPECT_EQ(first->GetParamType(), ptOutput);
}

TEST(ParamsSharing, DeletingTheValueOwnerHandsTheNameToTheNextItem) {
    TParams params;
    params.ParseSQL("a = :x or b = :x or c = :x", true);
    TParam* second = Own(params, 1);
    TParam* third = Own(params, 2);
    second->SetValue(Variant(1));  // caches the first item as owner
    EXPECT_EQ(third->ParamRef(), Own(params, 0));

    params.BeginUpdate();
    delete Own(params, 0);
    // Still inside the update block: no cache may point at the deleted item.
    EXPECT_EQ(second->ParamRef(), second);
    EXPECT_EQ(third->ParamRef(), second);
    params.EndUpdate();
    third->SetValue(Variant(3));
    EXPECT_EQ(second->GetValue().ToInteger(), 3);
}

TEST(ParamsSharing, MovingAnItemBetweenCollections) {
    TParams a, b;
    TParam* owner = a.CreateParam(ftInteger, "x", ptInput);
    TParam* moved = a.CreateParam(ftInteger, "x", ptInput);
    a.CreateParam(ftInteger, "y", ptInput);
    EXPECT_EQ(moved->ParamRef(), owner);

    a.RemoveParam(moved);
    EXPECT_EQ(moved->GetCollection(), nullptr);
    EXPECT_EQ(moved->ParamRef(), moved) << "a loose item is its own owner";
    EXPECT_EQ(a.GetCount(), 2);

    TParam* there = b.CreateParam(ftString, "X", ptInput);
    b.AddParam(moved);
    EXPECT_EQ(moved->GetCollection(), &b);
    EXPECT_EQ(moved->ParamRef(), there);
    a.RemoveParam(there);  // not a's item: nothing happens
    EXPECT_EQ(there->GetCollection(), &b);
    delete moved;
    EXPECT_EQ(b.GetCount(), 1);
}

// ---- Collections as a whole ----------------------------------------------------------------------

TEST(ParamsCollection, AssignValuesCopiesMatchingNamesOnly) {
    TParams target, source;
    target.CreateParam(ftInteger, "a", ptInput)->SetAsInteger(1);
    target.CreateParam(ftInteger, "b", ptInput)->SetAsInteger(2);
    source.CreateParam(ftInteger, "B", ptOutput)->SetAsInteger(20);
    source.CreateParam(ftInteger, "c", ptInput)->SetAsInteger(30);
    target.AssignValues(&source);
    EXPECT_EQ(target.GetCount(), 2);
    EXPECT_EQ(target.ParamByName("a")->GetAsInteger(), 1);
    EXPECT_EQ(target.ParamByName("b")->GetAsInteger(), 20);
    EXPECT_EQ(target.ParamByName("b")->GetName(), "B") << "the assignment copies the name too";
    EXPECT_EQ(target.ParamByName("b")->GetParamType(), ptInput) << "a known direction stays";
}

TEST(ParamsCollection, CopyAndCompare) {
    TParams source;
    source.CreateParam(ftInteger, "a", ptInput)->SetAsInteger(1);
    source.CreateParam(ftString, "b", ptOutput)->SetAsString("x");

    TParams copy;
    copy.CreateParam(ftFloat, "gone", ptInput);
    copy.Assign(&source);
    EXPECT_EQ(copy.GetCount(), 2);
    EXPECT_TRUE(copy.IsEqual(&source));
    EXPECT_TRUE(source.IsEqual(&copy));

    TParams viaAssignTo;
    Vcl::TCollection& asCollection = viaAssignTo;
    asCollection.Assign(&source);
    EXPECT_TRUE(viaAssignTo.IsEqual(&source));

    copy.ParamByName("b")->SetAsString("y");
    EXPECT_FALSE(copy.IsEqual(&source));
    copy.Delete(1);
    EXPECT_FALSE(copy.IsEqual(&source));
    EXPECT_FALSE(copy.IsEqual(nullptr));
}

// ---- Form files ---------------------------------------------------------------------------------------

class TParamHolder : public Vcl::TComponent {
    VCL_CLASS(TParamHolder, Vcl::TComponent)
public:
    explicit TParamHolder(Vcl::TComponent* AOwner) : TComponent(AOwner), FParams(this) {}
    TParams* GetParams() { return &FParams; }
    void SetParams(TParams* Value) { FParams.Assign(Value); }

private:
    TParams FParams;
};

VCL_COMPONENT_IMPL(TParamHolder, Vcl::TComponent) { Prop("Params", &TParamHolder::GetParams, &TParamHolder::SetParams); }

struct FormFixture : ::testing::Test {
    void SetUp() override {
        if (!Vcl::GetClass("TParamHolder")) Vcl::RegisterClass<TParamHolder>();
    }
};

TEST_F(FormFixture, ParametersRoundTripAndValueIsWrittenOnlyWhenBound) {
    DbTest::Owned<TParamHolder> holder(new TParamHolder(nullptr));
    holder->SetName("Holder");
    TParams* params = holder->GetParams();
    TParam* a = params->CreateParam(ftInteger, "a", ptInput);
    a->SetAsInteger(42);
    a->SetPrecision(10);
    a->SetParamAttributes({paSigned, paNullable});
    params->CreateParam(ftString, "b", ptOutput)->SetSize(20);

    const String text = Vcl::ComponentToText(holder.get());
    EXPECT_NE(text.find("Value = 42"), String::npos) << text;
    EXPECT_EQ(text.find("Value", text.find("Name = 'b'")), String::npos) << "an unbound value is not written\n" << text;
    EXPECT_EQ(text.find("Data ="), String::npos) << text;

    DbTest::Owned<TParamHolder> read(new TParamHolder(nullptr));
    Vcl::ReadComponentFromText(text, read.get());
    EXPECT_TRUE(read->GetParams()->IsEqual(params)) << Vcl::ComponentToText(read.get());
}

TEST_F(FormFixture, TheLegacyDataPropertyIsReadAndDroppedOnSave) {
    // Version 1, one parameter "n": ptInput, ftInteger, 4 bytes of 7, not null, bound.
    const String text =
        "object Holder: TParamHolder\n"
        "  Params.Data = {0100 0100 016E 01 03 0400 07000000 00 01}\n"
        "end\n";
    DbTest::Owned<TParamHolder> holder(new TParamHolder(nullptr));
    Vcl::ReadComponentFromText(text, holder.get());
    TParams* params = holder->GetParams();
    ASSERT_EQ(params->GetCount(), 1);
    EXPECT_EQ(params->Items(0)->GetName(), "n");
    EXPECT_EQ(params->Items(0)->GetAsInteger(), 7);
    EXPECT_TRUE(params->Items(0)->GetBound());

    const String saved = Vcl::ComponentToText(holder.get());
    EXPECT_EQ(saved.find("Data ="), String::npos) << saved;
    EXPECT_NE(saved.find("Name = 'n'"), String::npos) << saved;

    const String bad =
        "object Holder: TParamHolder\n"
        "  Params.Data = {0300 0000}\n"
        "end\n";
    DbTest::Owned<TParamHolder> other(new TParamHolder(nullptr));
    EXPECT_NE(MessageOf<Rtl::EReadError>([&] { Vcl::ReadComponentFromText(bad, other.get()); })
                  .find("Unable to load bind parameters"),
              String::npos);
}

}  // namespace
