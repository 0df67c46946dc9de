#include "session/model.h"

#include <gtest/gtest.h>

namespace morvale {
namespace {

TEST(Model, SessionCreationForms) {
    Visitor v;
    v.state = vsBrowsing;
    EXPECT_FALSE(MarkTransfer(v, "c", "r", "o", "n", 1.0));
    EXPECT_EQ(v.state, vsBrowsing);

    ChatSession& call = NewCall(v, "c1", "r1", "q", 2.0);
    EXPECT_EQ(v.state, vsCalling);
    EXPECT_EQ(v.chat, &call);
    EXPECT_EQ(call.callTime, 2.0);
    EXPECT_EQ(call.startTime, 0.0);

    ChatSession& chat = NewChat(v, "r2", "op", "login", "name", 3.0);
    EXPECT_EQ(v.state, vsCalling);
    EXPECT_EQ(v.chats.size(), 2u);
    EXPECT_EQ(v.chat, &chat);
    EXPECT_EQ(chat.callTime, 3.0);
    EXPECT_EQ(chat.startTime, 3.0);

    chat.lastMsg = "keep";
    EXPECT_TRUE(MarkTransfer(v, "c9", "r9", "op9", "n9", 4.0));
    EXPECT_EQ(v.state, vsTransfer);
    EXPECT_EQ(chat.callId, "c9");
    EXPECT_EQ(chat.rid, "r9");
    EXPECT_EQ(chat.opId, "op9");
    EXPECT_EQ(chat.opName, "n9");
    EXPECT_EQ(chat.opLogin, "login");
    EXPECT_EQ(chat.lastMsg, "keep");
    EXPECT_EQ(chat.callTime, 4.0);
    EXPECT_EQ(chat.startTime, 3.0);
}

TEST(Model, PageTimesAreKeptToTheSecond) {
    Visitor v;
    const DateTime t = UnixToLocal(1700000123);
    v.AddPage("t", "u", DateTimeToText(t + 0.4 / 86400));
    ASSERT_EQ(v.pages.size(), 1u);
    EXPECT_DOUBLE_EQ(v.pages[0].time, t);
    v.AddPage("t", "u", "garbage");
    EXPECT_EQ(v.pages[1].time, 0);
}

TEST(Model, Lookups) {
    VisitorList list;
    for (const char* vid : {"12", "123", "", "12"}) {
        list.push_back(std::make_unique<Visitor>());
        list.back()->vid = vid;
        list.back()->state = vsBrowsing;
    }
    list[1]->guestId = "g";
    list[3]->guestId = "g";
    list[3]->state = vsChatMine;
    NewChat(*list[3], "r", "o", "l", "n", 1).callId = "call";

    EXPECT_EQ(FindVisitor(list, "12"), list[0].get());
    EXPECT_EQ(FindVisitor(list, "12", StateBit(vsChatMine)), list[3].get());
    EXPECT_EQ(FindVisitor(list, "1"), nullptr);
    EXPECT_EQ(FindVisitorByCallId(list, "call", StateBit(vsChatMine)), list[3].get());
    EXPECT_EQ(FindVisitorByCallId(list, "call", StateBit(vsBrowsing)), nullptr);
    EXPECT_EQ(FindVisitorsInText(list, "x123y").size(), 3u);  // 12, 123 and the second 12, never the empty id
    list[0]->state = vsLeft;
    EXPECT_EQ(FindVisitorsInText(list, "123").size(), 2u);
    EXPECT_EQ(FindVisitorsByGuestId(list, "g"), (std::vector<Visitor*>{list[1].get(), list[3].get()}));
}

TEST(Model, StateTexts) {
    EXPECT_EQ(VisitorStateText(vsLeft), "离开");
    EXPECT_EQ(VisitorStateText(vsChatEnded), "浏览");
    EXPECT_EQ(VisitorStateText(vsChatMine), "对话");
    EXPECT_EQ(VisitorStateText(vsCalling), "呼叫");
    EXPECT_EQ(VisitorStateText(vsTransfer), "转接");
    EXPECT_EQ(VisitorStateName(vsChatOther), "vsChatOther");
}

}  // namespace
}  // namespace morvale
