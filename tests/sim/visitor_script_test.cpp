#include "visitor_script.h"

#include <gtest/gtest.h>

#include "service.h"

namespace morvale::sim {
namespace {

Json RunScript(std::uint32_t seed, int steps) {
    ServiceOptions o;
    o.seed = seed;
    Service service(DefaultAccounts(), o);
    VisitorScript script(service, seed, 6);
    for (int i = 0; i < steps; ++i) script.Step();
    return service.Snapshot();
}

TEST(VisitorScript, SeededCrowdIsReproducible) {
    Json a = RunScript(7, 400), b = RunScript(7, 400), c = RunScript(8, 400);
    EXPECT_EQ(a.Find("visitors")->Dump(), b.Find("visitors")->Dump());
    EXPECT_NE(a.Find("visitors")->Dump(), c.Find("visitors")->Dump());
    const auto& visitors = a.Find("visitors")->Items();
    ASSERT_GE(visitors.size(), 6u);
    int live = 0;
    for (const auto& v : visitors) {
        EXPECT_TRUE(v.Bool("scripted"));
        EXPECT_FALSE(v.Str("area").empty());
        EXPECT_EQ(v.Str("page").rfind("/site/demo/", 0), 0u);
        if (!v.Bool("left")) ++live;
    }
    EXPECT_LE(live, 6);
}

TEST(VisitorScript, ScriptedVisitorsAskAndAnswer) {
    ServiceOptions o;
    Service service(DefaultAccounts(), o);
    Reply login = service.Login("demo", "op01", "123456", "", "http://h");
    std::string sid = login.body.substr(login.body.find('\x06') + 1, 26);
    VisitorScript script(service, 3, 6);
    std::string rid;
    for (int i = 0; i < 3000 && rid.empty(); ++i) {
        script.Step();
        Json state = service.Snapshot();
        for (const auto& c : state.Find("chats")->Items())
            if (c.Str("state") == "calling") rid = c.Str("rid");
    }
    ASSERT_FALSE(rid.empty()) << "no scripted chat request";
    service.Accept(sid, rid);
    std::string vid;
    Json state = service.Snapshot();
    for (const auto& c : state.Find("chats")->Items())
        if (c.Str("rid") == rid) vid = c.Str("vid");
    service.SendMsg(sid, vid, rid, "hello");
    std::string queued;
    for (int i = 0; i < 10; ++i) {
        script.Step();
        queued += service.KeepAlive(sid).body;
    }
    EXPECT_NE(queued.find("\x02"
                          "126\x05"),
              std::string::npos)
        << "typing preview";
    EXPECT_NE(queued.find("\x02"
                          "112\x05"),
              std::string::npos)
        << "answer";
}

}  // namespace
}  // namespace morvale::sim
