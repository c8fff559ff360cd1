#include <gtest/gtest.h>

#include <thread>

#include "Platform/com/Errors.h"

using namespace Com;

namespace {

// Runs fn, expecting it to raise E; answers the exception.
template <class E, class F>
E Raised(F fn) {
    try {
        fn();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "no exception raised";
    throw std::logic_error("no exception");
}

}  // namespace

TEST(Errors, SystemTextsOfResultCodes) {
    struct Case {
        HRESULT Code;
        const char* Text;
    } cases[] = {
        {E_NOINTERFACE, "No such interface supported"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {CO_E_CLASSSTRING, "Invalid class string"},
        {DISP_E_UNKNOWNNAME, "Unknown name"},
        {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
        {DISP_E_TYPEMISMATCH, "Type mismatch"},
        {DISP_E_PARAMNOTFOUND, "Parameter not found"},
        {E_FAIL, "Unspecified error"},
        {MakeHResult(0x80041234), "OLE error 80041234"},
    };
    for (const auto& c : cases) EXPECT_EQ(HResultMessage(c.Code), c.Text);
}

TEST(Errors, OleCheckPassesSuccessAndRaisesSysErrorWithoutInfo) {
    ClearErrorInfo();
    OleCheck(S_OK);
    OleCheck(S_FALSE);
    const auto e = Raised<EOleSysError>([] { OleCheck(REGDB_E_CLASSNOTREG); });
    EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(e.Message(), "Class not registered");
    EXPECT_EQ(std::string(e.ClassName()), "EOleSysError");
}

TEST(Errors, ErrorInfoFlowsIntoTheExceptionOnce) {
    TErrorInfo info;
    info.Source = "Engine.Connection";
    info.Description = "Table 'orders' does not exist";
    info.HelpFile = "engine.hlp";
    info.HelpContext = 42;
    SetErrorInfo(info);
    const auto e = Raised<EOleException>([] { CheckAutoResult(E_FAIL); });
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), "Table 'orders' does not exist");
    EXPECT_EQ(e.Description(), "Table 'orders' does not exist");
    EXPECT_EQ(e.Source(), "Engine.Connection");
    EXPECT_EQ(e.HelpFile(), "engine.hlp");
    EXPECT_EQ(e.HelpContext(), 42);
    // Taken by the first check: the next failure has no description.
    const auto again = Raised<EOleSysError>([] { OleCheck(E_FAIL); });
    EXPECT_EQ(std::string(again.ClassName()), "EOleSysError");
}

TEST(Errors, StaleOrEmptyInfo) {
    // Information recorded for another failure is not attributed to this one.
    SetErrorResult(E_ACCESSDENIED, "Engine", "Access denied to orders");
    const auto stale = Raised<EOleSysError>([] { OleCheck(E_FAIL); });
    EXPECT_EQ(std::string(stale.ClassName()), "EOleSysError");
    EXPECT_EQ(stale.Message(), "Unspecified error");
    // Without a description the message is the code's text.
    SetErrorResult(E_FAIL, "Engine", "");
    const auto empty = Raised<EOleException>([] { OleCheck(E_FAIL); });
    EXPECT_EQ(empty.Message(), "Unspecified error");
    EXPECT_EQ(empty.Source(), "Engine");
}

TEST(Errors, ErrorInfoBelongsToItsThread) {
    SetErrorResult(E_FAIL, "Main", "set on the main thread");
    bool otherSawInfo = true;
    std::thread([&] {
        TErrorInfo info;
        otherSawInfo = GetErrorInfo(info);
    }).join();
    EXPECT_FALSE(otherSawInfo);
    TErrorInfo info;
    ASSERT_TRUE(GetErrorInfo(info));
    EXPECT_EQ(info.Description, "set on the main thread");
    EXPECT_FALSE(GetErrorInfo(info));
}

TEST(Errors, SafeCallBoundaryKeepsCodeAndDescription) {
    struct Case {
        std::function<void()> Raise;
        HRESULT Code;
        const char* Description;
        const char* Source;
    } cases[] = {
        {[] { throw EOleException("row locked", MakeHResult(0x80040E21), "Engine.Recordset", "h.hlp", 7); },
         MakeHResult(0x80040E21), "row locked", "Engine.Recordset"},
        {[] { throw EOleSysError(E_INVALIDARG); }, E_INVALIDARG, "The parameter is incorrect", "Caller"},
        {[] { Rtl::Abort(); }, E_ABORT, "Operation aborted", "Caller"},
        {[] { throw Rtl::EConvertError("'x' is not a valid integer value"); }, E_FAIL,
         "'x' is not a valid integer value", "Caller"},
        {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY,
         "Not enough memory is available to complete this operation", "Caller"},
        {[] { throw std::runtime_error("disk on fire"); }, E_FAIL, "disk on fire", "Caller"},
    };
    for (const auto& c : cases) {
        HRESULT hr = S_OK;
        try {
            c.Raise();
        } catch (...) {
            hr = HandleSafeCallException("Caller");
        }
        EXPECT_EQ(hr, c.Code) << c.Description;
        // The caller's check turns it back into an exception with the same text.
        try {
            OleCheck(hr);
            ADD_FAILURE() << c.Description;
        } catch (const EOleException& e) {
            EXPECT_EQ(e.ErrorCode(), c.Code);
            EXPECT_EQ(e.Message(), c.Description);
            EXPECT_EQ(e.Source(), c.Source);
        }
    }
}
