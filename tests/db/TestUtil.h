// Small helpers shared by the dataset framework tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/db/MemDataSet.h"

namespace DbTest {

// A table of n rows: ID (autoinc), Name ("Name1".."Namen"), Qty (i * 10).
inline std::shared_ptr<TMemTable> NumberTable(int n) {
    auto table = std::make_shared<TMemTable>();
    table->AddColumn("ID", Db::ftAutoInc);
    table->AddColumn("Name", Db::ftString, 20);
    table->AddColumn("Qty", Db::ftInteger);
    for (int i = 1; i <= n; ++i) table->AddRow({Variant::Null(), Variant("Name" + Rtl::IntToStr(i)), Variant(i * 10)});
    return table;
}

// Components are freed with delete, as the framework frees them.
template <class T>
struct Deleter {
    void operator()(T* p) const { delete p; }
};
template <class T>
using Owned = std::unique_ptr<T, Deleter<T>>;

inline Owned<TMemDataSet> NewDataSet(std::shared_ptr<TMemTable> Table, const String& Name = "Data") {
    Owned<TMemDataSet> ds(new TMemDataSet(nullptr, std::move(Table)));
    ds->SetName(Name);
    return ds;
}

// A data source and a recording link of BufferCount records on a dataset.
struct Linked {
    Owned<Db::TDataSource> Source;
    std::unique_ptr<TRecordingLink> Link;
    Linked(Db::TDataSet* DataSet, int BufferCount, std::vector<String>* Log = nullptr)
        : Source(new Db::TDataSource(nullptr)), Link(std::make_unique<TRecordingLink>(Log)) {
        Source->SetDataSet(DataSet);
        Link->SetBufferCount(BufferCount);
        Link->SetDataSource(Source.get());
    }
    ~Linked() {
        Link.reset();
        Source.reset();
    }
};

inline std::string Join(const std::vector<String>& Items, const char* Sep = " ") {
    std::string s;
    for (const String& e : Items) s += (s.empty() ? "" : Sep) + e;
    return s;
}

// Runs Fn and returns the message of the exception of type E it raises
// (fails the test when it raises nothing).
template <class E = Rtl::Exception, class F>
std::string MessageOf(F&& Fn) {
    try {
        Fn();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no exception was raised";
    return {};
}

}  // namespace DbTest
