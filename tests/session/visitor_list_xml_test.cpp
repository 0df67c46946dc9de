#include "session/visitor_list_xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace morvale {
namespace {

struct ListCase {
    const char* name;
    std::string xml;
    std::string areas;  // every visitor's area, joined by "|"
    bool ok;
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class VisitorListRead : public testing::TestWithParam<ListCase> {};

TEST_P(VisitorListRead, KeepsTheBytesOfEveryEncoding) {
    const VisitorListResult r = ReadVisitorList(GetParam().xml);
    EXPECT_EQ(r.error.empty(), GetParam().ok) << r.error;
    std::string areas;
    for (const auto& e : r.entries) areas += (areas.empty() ? "" : "|") + e.visitor->area;
    EXPECT_EQ(areas, GetParam().areas);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisitorListRead,
    testing::Values(
        ListCase{"GbkDeclaredGb2312",
                 "<?xml version=\"1.0\" encoding=\"gb2312\"?><l><v a=\"1\" b=\"\" c=\"\" d=\"\" "
                 "e=\"\x81\x40北京\"/></l>",
                 "\x81\x40北京", true},
        ListCase{"GbkWithoutDeclaration", "<l><v a=\"1\" b=\"\" c=\"\" d=\"\" e=\"上海\"/></l>", "上海",
                 true},
        ListCase{"CharacterReferences", "<l><v a=\"1\" b=\"\" c=\"\" d=\"\" e=\"&#20013;&lt;&#x41;\"/></l>",
                 "中<A", true},
        ListCase{"Utf8Declared",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><l><v a=\"1\" b=\"\" c=\"\" d=\"\" "
                 "e=\"\xE4\xB8\xAD\"/></l>",
                 "中", true},
        ListCase{"NestedElementsAreNotVisitors",
                 "<l><v a=\"1\" b=\"\" c=\"\" d=\"\" e=\"x\"><w e=\"y\"/></v></l>", "x", true},
        ListCase{"MalformedGivesNothing", "<l><v a=\"1\" b=\"\" c=\"\" d=\"\" e=\"x\"/><v", "", false},
        ListCase{"Empty", "", "", false}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(VisitorListRead, ChatPositionsAndTimes) {
    const VisitorListResult r = ReadVisitorList(
        "<l><v a=\"v1\" b=\"1700000000\" c=\"\" d=\"\" e=\"\" f=\"\" g=\"\" h=\"\" i=\"\" j=\"\" k=\"\" "
        "l=\"\" m=\"r1\" "
        "n=\"op1\" o=\"lg\" p=\"nm\" q=\"bad\"/><v a=\"v2\" b=\"x\" m=\"\" n=\"op1\"/></l>");
    ASSERT_EQ(r.entries.size(), 2u);
    EXPECT_TRUE(r.entries[0].chatting);
    EXPECT_EQ(r.entries[0].rid, "r1");
    EXPECT_EQ(r.entries[0].opId, "op1");
    EXPECT_EQ(r.entries[0].opLogin, "lg");
    EXPECT_EQ(r.entries[0].opName, "nm");
    EXPECT_EQ(r.entries[0].chatTime, 0);
    EXPECT_DOUBLE_EQ(r.entries[0].visitor->arriveTime, UnixToLocal(1700000000));
    EXPECT_EQ(r.entries[0].visitor->state, vsBrowsing);
    EXPECT_FALSE(r.entries[1].chatting);
    EXPECT_EQ(r.entries[1].visitor->arriveTime, 0);
}

TEST(VisitorListRead, NeverLoadsExternalEntities) {
    const std::string secret = testing::TempDir() + "visitor_list_secret.txt";
    { std::ofstream(secret) << "SECRET"; }
    const VisitorListResult r = ReadVisitorList("<!DOCTYPE l [<!ENTITY x SYSTEM \"file://" + secret +
                                                "\">]><l><v a=\"1\" b=\"\" c=\"\" d=\"\" e=\"&x;\"/></l>");
    for (const auto& e : r.entries) EXPECT_EQ(e.visitor->area.find("SECRET"), std::string::npos);
    std::remove(secret.c_str());
}

}  // namespace
}  // namespace morvale
