// The member table: which row goes when names repeat or share a prefix, and
// that a mirrored view stays row-for-row equal under concurrent changes.
#include "CMemberTable.h"
#include "ChatProtocol.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace chattest;

TEST(MemberTable, RemovesOneRowOnly)
{
    MirrorMembers view;
    CMemberTable t(&view);
    t.Add(A("방장"), MEMBER_HOST);
    const auto one = t.Add(A("손님1"), MEMBER_GUEST);
    t.Add(A("손님10"), MEMBER_GUEST);
    t.Add("twin", MEMBER_GUEST);
    const auto twin2 = t.Add("twin", MEMBER_GUEST);

    EXPECT_TRUE(t.RemoveId(one));
    EXPECT_FALSE(t.RemoveId(one));
    // A name that is only a prefix of another removes nothing.
    EXPECT_FALSE(t.RemoveName(A("손님1")));
    // Two members share a name: one leaving removes one row.
    EXPECT_TRUE(t.RemoveName("TWIN"));
    auto rows = t.Snapshot();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].name, A("손님10"));
    EXPECT_EQ(rows[2].id, twin2);
    EXPECT_EQ(view.Rows().size(), 3u);
    EXPECT_EQ(view.BadReports(), 0);
}

TEST(MemberTable, LeaveNeverTakesTheOwnRowAndRenameTakesTheFirst)
{
    CMemberTable t;
    t.Add(A("방장"), MEMBER_HOST);
    t.Add("same", MEMBER_SELF);
    t.Add("Same", MEMBER_GUEST);
    EXPECT_TRUE(t.RemoveName("same"));
    auto rows = t.Snapshot();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].flag, MEMBER_SELF);
    EXPECT_FALSE(t.RemoveName("same")); // only the own row is left with that name

    EXPECT_TRUE(t.RenameName("SAME", "new"));
    EXPECT_EQ(t.Snapshot()[1].name, "new");
    EXPECT_FALSE(t.RenameName("nobody", "x"));
}

TEST(MemberTable, ViewMirrorsConcurrentChanges)
{
    MirrorMembers view;
    CMemberTable t(&view);
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&t, k] {
            for (int i = 0; i < 200; ++i) {
                const auto id = t.Add("m" + std::to_string(k) + "_" + std::to_string(i), MEMBER_GUEST);
                if (i % 3 == 0)
                    t.RenameId(id, "r" + std::to_string(k));
                if (i % 2 == 0)
                    t.RemoveId(id);
            }
        });
    }
    for (auto &th : threads)
        th.join();
    const auto rows = t.Snapshot();
    const auto mirrored = view.Rows();
    ASSERT_EQ(rows.size(), mirrored.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].name, mirrored[i].name);
        EXPECT_EQ(rows[i].flag, mirrored[i].flag);
    }
    EXPECT_EQ(view.BadReports(), 0);
}
