// The skin control as the updater reaches it: ActSkn43.ocx registered in a
// private registry store, loaded at run time from the registered path, the
// control made by the exported factory and driven only through ISkinControl
// (this test does not link the library).
#include "ISkinControl.h"

#include "platform/FileVersion.h"
#include "platform/Module.h"
#include "platform/Registry.h"

#include "QtTestApp.h"
#include "RunProgram.h"
#include "TestDir.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace platform;

namespace {

const char kSkin[] = R"(
font = "굴림", 9
image dot = dot.png
form First {
    size = 200, 100
    fill = #FFFFFF
}
form Second {
    size = 240, 120
    fill = #202020
    frame Panel {
        rect = 10, 10, 100, 60
        button Ok_Btn {
            rect = 5, 5, 40, 20
            caption = "확인"
        }
        slider Volume {
            rect = 5, 40, 90, 10
            range = 0, 10
        }
    }
}
)";

struct Event {
    int id;
    QString name;
    int a, b, c;
};

class RecordingSink : public ISkinEventSink {
public:
    void OnSkinMouseDown(ISkinObject *o, int button, int x, int y) override
    {
        events.push_back({22, o->GetName(), button, x, y});
    }
    void OnSkinMouseUp(ISkinObject *o, int button, int x, int y) override
    {
        events.push_back({23, o->GetName(), button, x, y});
    }
    void OnSkinSliderChanged(ISkinObject *o, int value) override
    {
        events.push_back({30, o->GetName(), value, 0, 0});
    }
    void OnSkinSliderHover(ISkinObject *o, int value) override
    {
        events.push_back({31, o->GetName(), value, 0, 0});
    }
    std::vector<Event> events;
};

ISkinObject *Find(ISkinObject *parent, const QString &name)
{
    for (int i = 0; parent && i < parent->GetChildCount(); ++i) {
        ISkinObject *child = parent->GetChild(i);
        if (child->GetName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
        if (ISkinObject *found = Find(child, name))
            return found;
    }
    return nullptr;
}

class SkinControlModule : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        App<QApplication>();
        s_store = new TestDir("skin-module-store");
        setenv("VELMOR_REGISTRY_DIR", s_store->path().c_str(), 1);
        // Registered the way the installer does it: the library's own entry point.
        CModule installer;
        ASSERT_TRUE(installer.Load(ProgramPath("ActSkn43.ocx"))) << installer.LastError();
        auto reg = installer.Function<HRESULT (*)()>("DllRegisterServer");
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }
    static void TearDownTestSuite()
    {
        delete s_store;
        s_store = nullptr;
    }
    void SetUp() override
    {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::Open(RegRoot::HKCR,
                                    std::string("CLSID\\") + CLSID_SkinControl + "\\InprocServer32", key),
                  S_OK);
        const std::string path = key.ReadString("").value_or("");
        ASSERT_EQ(path, std::filesystem::canonical(ProgramPath("ActSkn43.ocx")).string());
        ASSERT_TRUE(m_module.Load(path)) << m_module.LastError();
        m_create = m_module.Function<CreateSkinControlFn>(SKIN_CONTROL_FACTORY);
        ASSERT_NE(m_create, nullptr);

        QImage dot(4, 4, QImage::Format_RGB32);
        dot.fill(QColor(0, 0, 255));
        ASSERT_TRUE(dot.save(QString::fromStdString(m_dir.file("dot.png"))));
        std::ofstream(m_dir.file("Test.skin")) << kSkin;
    }

    static TestDir *s_store;
    TestDir m_dir{"skin-module"};
    CModule m_module;
    CreateSkinControlFn m_create = nullptr;
};

TestDir *SkinControlModule::s_store = nullptr;

} // namespace

// The updater checks the registered file's version against 4.3.0.0.
TEST_F(SkinControlModule, TheRegisteredFileCarriesVersion4300)
{
    const std::optional<FileVersion> version = ReadFileVersion(ProgramPath("ActSkn43.ocx"));
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(FormatFileVersion(*version), "4.3.0.0");
}

TEST_F(SkinControlModule, TheFactoryHandsOutOnlyTheSkinInterface)
{
    QWidget window;
    EXPECT_EQ(m_create("{00000000-0000-0000-0000-000000000000}", &window), nullptr);
    EXPECT_EQ(m_create(nullptr, &window), nullptr);
    EXPECT_EQ(m_create(IID_ISkinControl, nullptr), nullptr);
    EXPECT_EQ(window.findChildren<QWidget *>().size(), 0);
    // The class id's letter case does not matter.
    ISkinControl *skin = m_create("{92aea298-248e-45db-97b6-a8c7cd5892e7}", &window);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->GetWidget()->parentWidget(), &window);
    EXPECT_EQ(skin->GetRoot(), nullptr);
    EXPECT_EQ(skin->ApplySkin(QString()), E_FAIL);
    EXPECT_EQ(skin->LoadSkinFile(QString::fromStdString(m_dir.file("missing.skin"))), E_FAIL);
}

TEST_F(SkinControlModule, LoadsAppliesAndWalksTheObjectTree)
{
    QWidget window;
    ISkinControl *skin = m_create(IID_ISkinControl, &window);
    ASSERT_NE(skin, nullptr);
    QPointer<QWidget> widget = skin->GetWidget();
    ASSERT_EQ(skin->LoadSkinFile(QString::fromStdString(m_dir.file("Test.skin"))), S_OK);
    ASSERT_EQ(skin->ApplySkin(QString()), S_OK);
    EXPECT_EQ(window.size(), QSize(200, 100));
    ASSERT_EQ(skin->ApplySkin(QStringLiteral("SECOND")), S_OK);
    EXPECT_EQ(window.size(), QSize(240, 120));

    ISkinObject *root = skin->GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), QStringLiteral("Second"));
    ASSERT_EQ(root->GetChildCount(), 1);
    EXPECT_EQ(root->GetChild(1), nullptr);
    ISkinObject *ok = Find(root, QStringLiteral("ok_btn"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->GetRect(), QRect(5, 5, 40, 20));
    EXPECT_EQ(ok->GetCaption(), QStringLiteral("확인"));
    ok->SetCaption(QStringLiteral("다시"));
    EXPECT_EQ(ok->GetCaption(), QStringLiteral("다시"));
    // Hit tests take window coordinates: the panel's offset counts.
    EXPECT_TRUE(ok->HitTest(QPoint(16, 16)));
    EXPECT_FALSE(ok->HitTest(QPoint(6, 6)));
    ok->SetVisible(false);
    EXPECT_FALSE(ok->HitTest(QPoint(16, 16)));
    ok->SetVisible(true);
    ok->SetRect(QRect(50, 0, 40, 20));
    EXPECT_TRUE(ok->HitTest(QPoint(61, 11)));

    ISkinObject *volume = Find(root, QStringLiteral("Volume"));
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(volume->SetValue(99));
    EXPECT_EQ(volume->GetValue(), 10);

    // The skin's font and its named images, for the window's own drawing.
    EXPECT_EQ(skin->GetFont().pointSize(), 9);
    QImage canvas(8, 8, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        EXPECT_TRUE(skin->DrawImage(painter, QStringLiteral("DOT"), QRect(0, 0, 8, 4), 0));
        EXPECT_FALSE(skin->DrawImage(painter, QStringLiteral("nothing"), QRect(0, 0, 8, 8), 0));
        skin->SelectFont(painter);
        EXPECT_EQ(painter.font().pointSize(), 9);
    }
    EXPECT_EQ(canvas.pixelColor(4, 1), QColor(0, 0, 255));
    EXPECT_EQ(canvas.pixelColor(4, 6), QColor(Qt::white));
}

TEST_F(SkinControlModule, EventsReachTheSinkAndTheControlGoesWithItsWindow)
{
    QPointer<QWidget> widget;
    {
        QWidget window;
        ISkinControl *skin = m_create(IID_ISkinControl, &window);
        ASSERT_NE(skin, nullptr);
        widget = skin->GetWidget();
        ASSERT_EQ(skin->LoadSkinFile(QString::fromStdString(m_dir.file("Test.skin"))), S_OK);
        ASSERT_EQ(skin->ApplySkin(QStringLiteral("Second")), S_OK);
        RecordingSink sink;
        skin->SetEventSink(&sink);
        window.show();
        QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(21, 22));
        QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(60, 55));
        QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(60, 55));
        QTest::mousePress(widget, Qt::RightButton, {}, QPoint(20, 20));
        ASSERT_GE(sink.events.size(), 5u);
        EXPECT_EQ(sink.events[0].id, 22);
        EXPECT_EQ(sink.events[0].name, QStringLiteral("Ok_Btn"));
        EXPECT_EQ(sink.events[0].a, 1);
        EXPECT_EQ(sink.events[0].b, 20);
        EXPECT_EQ(sink.events[1].id, 23);
        EXPECT_EQ(sink.events[1].c, 22);
        EXPECT_EQ(sink.events[2].id, 22);
        EXPECT_EQ(sink.events[2].name, QStringLiteral("Volume"));
        EXPECT_EQ(sink.events[3].id, 30);
        EXPECT_EQ(sink.events.back().id, 22);
        EXPECT_EQ(sink.events.back().a, 2);

        // No sink: nothing more is recorded.
        const std::size_t before = sink.events.size();
        skin->SetEventSink(nullptr);
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(20, 20));
        EXPECT_EQ(sink.events.size(), before);
    }
    EXPECT_TRUE(widget.isNull());
}
