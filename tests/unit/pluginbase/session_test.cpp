// Sessions, the session registry and the objctl argument text.
#include "pdk/cfisession.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

using pbtest::str;
std::wstring w(const WString &s) { return str(s); }

// ---- sessions ----

TEST(SessionManager, NullNameGivesEmptyAndEqualNamesShareOneSession) {
    CFiSessionManager mgr;
    EXPECT_TRUE(mgr.getSession(nullptr).isNull());
    EXPECT_EQ(mgr.size(), 0u);

    CFiSessionPtr a = mgr.getSession("ctx-1");
    CFiSessionPtr b = mgr.getSession(std::string("ctx-1").c_str());
    CFiSessionPtr c = mgr.getSession("ctx-2");
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a.get(), b.get());
    EXPECT_NE(a.get(), c.get());
    EXPECT_EQ(a->getName(), "ctx-1");
    EXPECT_EQ(mgr.size(), 2u);
    // The manager keeps its own reference: the session outlives the callers'.
    a.reset();
    b.reset();
    EXPECT_EQ(mgr.getSession("ctx-1")->getCount(), 2);
}

TEST(Session, RecordsNodesByNarrowNameAndCreatesMissingOnesEmpty) {
    CFiSession s("ctx");
    s.addNode(W(L"disk1"), "key1");
    ASSERT_TRUE(s.hasNode("disk1"));
    CFiSessionNode &rec = s.getNode("disk1");
    EXPECT_EQ(w(rec.name), L"disk1");
    EXPECT_EQ(rec.key, "key1");
    EXPECT_EQ(rec.targetName.length(), 0u);
    EXPECT_EQ(rec.value, 0);

    rec.targetName = W(L"snap1");
    EXPECT_EQ(w(s.getNode("disk1").targetName), L"snap1");

    EXPECT_FALSE(s.hasNode("disk2"));
    CFiSessionNode &fresh = s.getNode("disk2");
    EXPECT_EQ(fresh.name.length(), 0u);
    EXPECT_TRUE(s.hasNode("disk2"));

    // Recording again starts the record afresh.
    s.addNode(W(L"disk1"), "key9");
    EXPECT_EQ(s.getNode("disk1").key, "key9");
    EXPECT_EQ(s.getNode("disk1").targetName.length(), 0u);
    EXPECT_EQ(s.nodes().size(), 2u);
}

TEST(Session, NonAsciiNodeNamesAreKeyedByTheirUtf8Form) {
    CFiSession s("ctx");
    s.addNode(W(L"d\u00e9v"), "k");
    EXPECT_TRUE(s.hasNode("d\xc3\xa9v"));
}

// ---- objctl text ----

TEST(ObjctlArgs, ReadsOneItemSeparatedBySingleSpaces) {
    CFiObjctlArgs args(L"<OBJCTL_ARG_LIST> <OBJCTL_INPUT arg=a value=b type=c /> </OBJCTL_ARG_LIST>");
    ASSERT_EQ(args.inputs.size(), 1u);
    EXPECT_EQ(w(args.inputs[0].arg), L"a");
    EXPECT_EQ(w(args.inputs[0].value), L"b");
    EXPECT_EQ(w(args.inputs[0].type), L"c");
    EXPECT_TRUE(args.outputs.empty());
}

TEST(ObjctlArgs, RunsOfSpacesCountAsOneAndOtherWhiteSpaceIsText) {
    CFiObjctlArgs args(L"   <OBJCTL_ARG_LIST>    <X arg=a1  value=v1 type=t1 />"
                       L" <Y arg=a2 value=v\t2 type=t2 />   </OBJCTL_ARG_LIST>   ");
    ASSERT_EQ(args.inputs.size(), 2u);
    EXPECT_EQ(w(args.inputs[0].arg), L"a1");
    EXPECT_EQ(w(args.inputs[1].value), L"v\t2");
}

TEST(ObjctlArgs, TextNotStartingWithTheListTagGivesNothing) {
    EXPECT_TRUE(CFiObjctlArgs(L"<OBJCTL_INPUT arg=a value=b type=c />").inputs.empty());
    EXPECT_TRUE(CFiObjctlArgs(L"<OBJCTL_ARG_LIST>x arg=a value=b type=c />").inputs.empty());
    EXPECT_TRUE(CFiObjctlArgs(L"").inputs.empty());
    EXPECT_TRUE(CFiObjctlArgs(L"     ").inputs.empty());
    EXPECT_TRUE(CFiObjctlArgs(static_cast<const wchar_t *>(nullptr)).inputs.empty());
}

TEST(ObjctlArgs, MissingOrMisnamedAttributeStopsWithoutStoringTheItem) {
    const wchar_t *cases[] = {
        L"<OBJCTL_ARG_LIST> <I arg=a value=b /> </OBJCTL_ARG_LIST>",       // no type
        L"<OBJCTL_ARG_LIST> <I value=b arg=a type=c /> </OBJCTL_ARG_LIST>", // order matters
        L"<OBJCTL_ARG_LIST> <I ARG=a value=b type=c /> </OBJCTL_ARG_LIST>", // case matters
        L"<OBJCTL_ARG_LIST> <I arg=a value=b",                             // text ends
        L"<OBJCTL_ARG_LIST> <I",
    };
    for (const wchar_t *c : cases) EXPECT_TRUE(CFiObjctlArgs(c).inputs.empty()) << std::wstring(c).size();

    CFiObjctlArgs partial(L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c /> <I arg=d valu=e type=f /> "
                          L"<I arg=g value=h type=i /> </OBJCTL_ARG_LIST>");
    ASSERT_EQ(partial.inputs.size(), 1u);
    EXPECT_EQ(w(partial.inputs[0].arg), L"a");
}

TEST(ObjctlArgs, BadClosingTokenOrEndOfTextStopsAfterStoringTheItem) {
    CFiObjctlArgs bad(L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c > <I arg=d value=e type=f /> "
                      L"</OBJCTL_ARG_LIST>");
    ASSERT_EQ(bad.inputs.size(), 1u);
    EXPECT_EQ(w(bad.inputs[0].type), L"c");

    CFiObjctlArgs ended(L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c");
    ASSERT_EQ(ended.inputs.size(), 1u);

    // Attributes may be empty; the closing list tag ends reading even mid-way.
    CFiObjctlArgs empty(L"<OBJCTL_ARG_LIST> <I arg= value= type= /> </OBJCTL_ARG_LIST> <I arg=x value=y type=z />");
    ASSERT_EQ(empty.inputs.size(), 1u);
    EXPECT_EQ(empty.inputs[0].arg.length(), 0u);
}

TEST(ObjctlArgs, SerialisesOutputsOnlyInTheFrameworksForm) {
    CFiObjctlArgs args(L"<OBJCTL_ARG_LIST> <I arg=in value=1 type=int /> </OBJCTL_ARG_LIST>");
    EXPECT_EQ(w(args.toXML()), L"<OBJCTL_ARG_LIST> </OBJCTL_ARG_LIST> ");

    args.outputs.push_back({W(L"a"), W(L"b"), W(L"c")});
    args.outputs.push_back({W(L"status"), W(L"0"), W(L"int")});
    EXPECT_EQ(w(args.toXML()), L"<OBJCTL_ARG_LIST> <OBJCTL_OUTPUT arg=a value=b type=c />"
                               L" <OBJCTL_OUTPUT arg=status value=0 type=int /> </OBJCTL_ARG_LIST> ");

    // What is written reads back as the same items.
    CFiObjctlArgs back(args.toXML().c_str());
    EXPECT_EQ(back.inputs, args.outputs);
}

} // namespace
