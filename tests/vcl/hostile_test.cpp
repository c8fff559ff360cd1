#include <gtest/gtest.h>

#include <memory>

#include "TestClasses.h"

using namespace VclTest;

namespace {

String Module(const String& body) { return "object Module1: TDataModule\n" + body + "end\n"; }

// One valid component first, so that every failure also has something to free;
// the properties of S start on line 6.
String WithSample(const String& props, const String& more = "") {
    return Module("  object Ok: TSample\n  end\n\n  object S: TSample\n" + props + "  end\n" + more);
}

String Nested(int depth) {
    String s;
    for (int i = 0; i < depth; ++i) s += "object C" + std::to_string(i) + ": TContainer\n";
    for (int i = 0; i < depth; ++i) s += "end\n";
    return s;
}

struct Case {
    const char* What;
    String Text;
    const char* Message;  // the whole message
};

}  // namespace

TEST(HostileForms, RaiseReadErrorsNamingTheLineAndFreeEverything) {
    RegisterTestClasses();
    RegisterClass<TSampleItem>();
    TEventHandlers handlers;
    handlers.Add<TNotifyEvent>("DoChange", [](TObject*) {});
    handlers.Add<TValidateEvent>("DoValidate", [](TObject*, bool&) {});

    const Case cases[] = {
        // Syntax
        {"empty", "", "Line 1: 'object' expected but end of file found"},
        {"no class", "object", "Line 1: component name or class name expected but end of file found"},
        {"truncated", "object A: TDataModule\n  object S: TSample\n", "Line 3: property name, 'object' or 'end' expected but end of file found"},
        {"no value", Module("  Tag =\n"), "Line 3: value expected but 'end' found"},
        {"garbage after end", Module("") + "x", "Line 3: end of file expected but 'x' found"},
        {"inherited", "inherited A: TDataModule\nend\n", "Line 1: 'inherited' is not supported; 'object' expected"},
        {"bad character", Module("  Tag = @\n"), "Line 2: invalid '@'"},
        {"NUL byte", Module(String("  Tag = 1\0\n", 11)), "Line 2: invalid character #0"},
        {"unterminated string", WithSample("    Title = 'abc\n"), "Line 6: unterminated string"},
        {"dangling plus", WithSample("    Title = 'a' +\n"), "Line 7: string after '+' expected but 'end' found"},
        {"huge integer", WithSample("    Big = 99999999999999999999\n"), "Line 6: integer out of range: 99999999999999999999"},
        {"huge float", WithSample("    Ratio = 1e999\n"), "Line 6: invalid number 1e999"},
        {"float currency", WithSample("    Value = 1.5c\n"), "Line 6: invalid currency value 1.5c: it is written as an integer"},
        {"number glued to name", WithSample("    Count = 12ab\n"), "Line 6: invalid number 12a"},
        {"character code too big", WithSample("    Title = #1114112\n"), "Line 6: invalid character code #1114112"},
        {"odd binary", WithSample("    Blob = {0A1}\n"), "Line 6: binary data has an odd number of hexadecimal digits"},
        {"bad binary", WithSample("    Blob = {0G}\n"), "Line 6: hexadecimal digit expected but 'G' found in binary data"},
        {"open binary", "object A: TDataModule\n  object S: TSample\n    Blob = {0A", "Line 3: '}' expected but end of file found in binary data"},
        {"open list", WithSample("    Pairs = ('a' 1\n"), "Line 7: value expected but 'end' found"},
        {"open collection", WithSample("    Items = <\n      item\n"), "Line 9: 'item' or '>' expected but 'end' found"},
        {"objects nested too deep", Module(Nested(70)), "Line 65: nesting deeper than 64 levels"},
        {"lists nested too deep", WithSample("    Pairs = " + String(100, '(') + String(100, ')') + "\n"),
         "Line 6: nesting deeper than 64 levels"},
        // Classes and names
        {"unknown class", Module("  object X: TNope\n  end\n"), "Line 2: Class TNope not found"},
        {"not a component", Module("  object X: TSampleItem\n  end\n"),
         "Line 2: TSampleItem is not a component class that form files can create"},
        {"duplicate name", WithSample("", "  object Ok: TSample\n  end\n"), "Line 7: A component named Ok already exists"},
        // Properties
        {"unknown property", Module("  Nope = 1\n"), "Line 2: Property Nope does not exist in TDataModule"},
        {"string for integer", WithSample("    Count = 'x'\n"),
         "Line 6: invalid value for S.Count: integer (Integer) expected but a string found"},
        {"Byte out of range", WithSample("    Small = 256\n"),
         "Line 6: value 256 is out of range for S.Small (Byte, 0..255)"},
        {"unknown enumeration value", WithSample("    Mode = fmSlow\n"),
         "Line 6: invalid value 'fmSlow' for S.Mode: one of fmFast, fmSafe, fmLazy expected"},
        {"number for Boolean", WithSample("    Flag = 1\n"),
         "Line 6: invalid value for S.Flag: one of False, True expected but integer 1 found"},
        {"unknown set element", WithSample("    Options = [opA, opZ]\n"),
         "Line 6: invalid set element 'opZ' for S.Options: one of opA, opB, opC expected"},
        {"number for string", WithSample("    Title = 12\n"),
         "Line 6: invalid value for S.Title: string expected but integer 12 found"},
        {"surrogate in a String", WithSample("    Title = 'a'#55296\n"),
         "Line 6: invalid value for S.Title: character #55296 (a lone surrogate) cannot be held by a String"},
        {"bad UTF-8 in a WideString", WithSample("    WideTitle = '\xff'\n"),
         "Line 6: invalid value for S.WideTitle: text that is not valid UTF-8 cannot be held by a WideString"},
        {"set for variant", WithSample("    Value = [opA]\n"),
         "Line 6: invalid value for S.Value: a number, string, True, False, Null or nil expected but a set found"},
        {"read-only property", WithSample("    ReadOnly = 5\n"), "Line 6: property S.ReadOnly is read-only"},
        {"sub-property of a number", WithSample("    Count.X = 1\n"),
         "Line 6: Property Count of TSample holds no object whose properties a form file can set"},
        {"unknown sub-property", WithSample("    Lines.Nope = 1\n"), "Line 6: Property Lines.Nope does not exist in TStringList"},
        {"number in string list", WithSample("    Lines.Strings = ('a' 1)\n"),
         "Line 6: string expected for S.Lines.Strings but integer 1 found"},
        {"unknown item property", WithSample("    Items = <\n      item\n        Nope = 1\n      end>\n"),
         "Line 8: Property Nope does not exist in TSampleItem"},
        {"list for collection", WithSample("    Items = (1)\n"),
         "Line 6: invalid value for S.Items: component name or collection expected but a list found"},
        // References and events
        {"unresolved reference", WithSample("    Link = Missing\n"), "Line 6: unresolved component reference 'Missing' for S.Link"},
        {"reference of the wrong class", WithSample("    Link = Box\n", "  object Box: TContainer\n  end\n"),
         "Line 6: 'Box' is a TContainer, not the TSample S.Link needs"},
        {"unresolved item reference", WithSample("    Items = <\n      item\n        Target = Ok.Nothing\n      end>\n"),
         "Line 8: unresolved component reference 'Ok.Nothing' for S.Items[0].Target"},
        {"unknown handler", WithSample("    OnChange = Missing\n"), "Line 6: event handler 'Missing' for S.OnChange not found"},
        {"handler of another type", WithSample("    OnChange = DoValidate\n"),
         "Line 6: event handler 'DoValidate' does not fit S.OnChange (TNotifyEvent)"},
        // Defined properties
        {"string for binary", WithSample("    Blob = 'x'\n"),
         "Line 6: binary data {...} expected for S.Blob but a string found"},
        {"short pair list", WithSample("    Pairs = ('a' 1 'b')\n"),
         "Line 6: integer expected for S.Pairs but end of list found"},
        {"number for list", WithSample("    Pairs = 5\n"),
         "Line 6: list '(' expected for S.Pairs but integer 5 found"},
        {"number for read-only string", WithSample("    Legacy = 5\n"),
         "Line 6: string expected for S.Legacy but integer 5 found"},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        auto root = std::make_unique<TDataModule>(nullptr);
        root->SetName("Module1");
        const int alive = TSample::Alive;
        try {
            ReadComponentFromText(c.Text, root.get(), &handlers);
            ADD_FAILURE() << "no exception";
        } catch (const Rtl::EStreamError& e) {  // EReadError and EClassNotFound alike
            EXPECT_EQ(e.Message(), c.Message);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected exception: " << e.what();
        }
        EXPECT_EQ(root->GetComponentCount(), 0);
        EXPECT_EQ(TSample::Alive, alive);
        for (auto flag : {csLoading, csReading, csFixups}) EXPECT_FALSE(root->GetComponentState().Contains(flag));
    }
}

TEST(HostileForms, AFailingRootCreatedByTheReaderIsFreedToo) {
    RegisterTestClasses();
    const int alive = TSample::Alive;
    EXPECT_THROW(ReadComponentFromText("object S: TSample\n  Count = 'x'\nend\n", nullptr), Rtl::EReadError);
    EXPECT_THROW(ReadComponentFromText("object S: TSample\n  FailLoad = True\nend\n", nullptr), Rtl::EInvalidOperation);
    EXPECT_EQ(TSample::Alive, alive);
}
