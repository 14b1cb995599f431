// The start-up check of the skin control: registration, the file, its
// version against 4.3.0.0, and the three messages.
#include "SkinControlCheck.h"

#include "platform/Registry.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

class SkinControlCheckTest : public testing::Test {
protected:
    void SetUp() override { setenv("VELMOR_REGISTRY_DIR", m_store.path().c_str(), 1); }

    static void Register(const std::string &path)
    {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCR, kSkinControlKey, key), S_OK);
        ASSERT_EQ(key.WriteString("", path), S_OK);
    }

    TestDir m_store{"skin-check-store"};
    TestDir m_dir{"skin-check"};
};

} // namespace

TEST(FileVersionText, ComparedPartByPartAndShorterListsCountAsLower)
{
    EXPECT_GT(CompareFileVersionText("5.0.0.0", "4.3.0.0"), 0);
    EXPECT_EQ(CompareFileVersionText("4.3.0.0", "4.3.0.0"), 0);
    EXPECT_LT(CompareFileVersionText("4.2.9.9", "4.3.0.0"), 0);
    EXPECT_GT(CompareFileVersionText("4.10.0.0", "4.3.0.0"), 0); // numbers, not texts
    EXPECT_LT(CompareFileVersionText("5.0.0", "4.3.0.0"), 0);
    EXPECT_LT(CompareFileVersionText("", "4.3.0.0"), 0);
    EXPECT_LT(CompareFileVersionText("5.0.0.0.0", "4.3.0.0"), 0);
}

TEST_F(SkinControlCheckTest, RegistrationFileAndVersionAreCheckedInThatOrder)
{
    std::string path = "unset";
    EXPECT_EQ(CheckSkinControl(&path), SkinControlState::NotRegistered);
    EXPECT_EQ(path, "");

    Register("");
    EXPECT_EQ(CheckSkinControl(), SkinControlState::NotRegistered);

    Register(m_dir.file("ActSkn43.ocx"));
    EXPECT_EQ(CheckSkinControl(&path), SkinControlState::Missing);
    EXPECT_EQ(path, m_dir.file("ActSkn43.ocx"));

    // A file without any version counts as too old.
    std::ofstream(m_dir.file("ActSkn43.ocx")) << "not a library";
    EXPECT_EQ(CheckSkinControl(), SkinControlState::Outdated);

    Register(STALE_SKIN_CONTROL);
    EXPECT_EQ(CheckSkinControl(), SkinControlState::Outdated);

    Register(SKIN_CONTROL);
    EXPECT_EQ(CheckSkinControl(), SkinControlState::Ok);
}

TEST(SkinControlMessages, NameTheProductEveryTime)
{
    EXPECT_EQ(SkinControlMessage(SkinControlState::NotRegistered, "벨모"),
              "ActSkn43.ocx 파일의 레지스트리 정보가 올바르지 않습니다.\n\n'벨모'를 다시 설치해주세요.");
    EXPECT_EQ(SkinControlMessage(SkinControlState::Missing, "벨모"),
              "ActSkn43.ocx 파일이 존재하지 않습니다.\n\n'벨모'를 다시 설치하세요.");
    EXPECT_EQ(SkinControlMessage(SkinControlState::Outdated, "벨%s모"),
              "ActSkn43.ocx의 버젼이 낮아 '벨%s모'를 실행시킬 수 없습니다.\n\nActSkn43.ocx의 버젼이 외부요인에 의해 "
              "변경되었을 수도 있습니다.\n\n'벨%s모'를 다시 설치하세요.");
    EXPECT_EQ(SkinControlMessage(SkinControlState::Ok, "벨모"), "");
}
