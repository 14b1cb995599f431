// Reading skin files: the object tree, names, rectangles, anchors, errors,
// and the skins that ship with the product.
#include "CSkin.h"
#include "CSkinObject.h"

#include "QtTestApp.h"

#include <QApplication>
#include "TestDir.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <fstream>

namespace {

const char *kTree = R"(
; a comment line
font = "굴림", 10
form First {
    size = 200, 100
    frame outer {
        rect = 10, 20, 100, 50     ; trailing comment
        anchor = left, top, right
        text label {
            rect = 5, 5, 40, 10
            caption = "이름; 그리고 \"따옴표\""
        }
        button Target {
            rect = 50, 5, 20, 10
            command = 1012
            tooltip = "눌러 주세요"
        }
    }
    button target {
        rect = 150, 70, 20, 10
    }
    slider vol {
        rect = 10, 80, 110, 10
        range = 0, 100
        value = 250
        thumb_size = 10
    }
}
form Second {
    size = 50, 50
}
)";

std::unique_ptr<CSkinObject> Apply(const CSkin &skin, const char *form)
{
    const CSkinObject *f = skin.FindForm(QString::fromUtf8(form));
    return f ? f->Clone() : nullptr;
}

} // namespace

TEST(SkinFile, TreeNamesAndRectanglesRelativeToTheParent)
{
    CSkin skin;
    ASSERT_EQ(skin.Parse(QString::fromUtf8(kTree), QString()), S_OK) << skin.LastError().toStdString();
    EXPECT_EQ(skin.Font().family(), QStringLiteral("굴림"));
    EXPECT_EQ(skin.Font().pointSize(), 10);
    // The default form is the first one; names ignore case.
    ASSERT_NE(skin.FindForm(QString()), nullptr);
    EXPECT_EQ(skin.FindForm(QString())->GetName(), QStringLiteral("First"));
    EXPECT_EQ(skin.FindForm(QStringLiteral("SECOND"))->GetRect().size(), QSize(50, 50));
    EXPECT_EQ(skin.FindForm(QStringLiteral("Third")), nullptr);

    auto root = Apply(skin, "first");
    ASSERT_EQ(root->GetChildCount(), 3);
    CSkinObject *outer = root->GetChild(0);
    EXPECT_EQ(outer->GetName(), QStringLiteral("outer"));
    EXPECT_EQ(root->GetChild(3), nullptr);
    EXPECT_EQ(root->GetChild(-1), nullptr);
    CSkinObject *label = FindSkinObject(root.get(), QStringLiteral("LABEL"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->GetCaption(), QStringLiteral("이름; 그리고 \"따옴표\""));
    EXPECT_EQ(label->GetRect(), QRect(5, 5, 40, 10));
    EXPECT_EQ(label->GetFormRect(), QRect(15, 25, 40, 10));
    // The search goes down the first child's subtree before the next child:
    // "Target" inside "outer" wins over the later top-level "target".
    CSkinObject *target = FindSkinObject(root.get(), QStringLiteral("target"));
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->GetParent(), outer);
    EXPECT_EQ(target->GetCommand(), 1012);
    EXPECT_EQ(target->GetTooltip(), QStringLiteral("눌러 주세요"));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("missing")), nullptr);
    EXPECT_EQ(FindSkinObject(nullptr, QStringLiteral("outer")), nullptr);
    // A value outside the range is clamped.
    CSkinObject *vol = FindSkinObject(root.get(), QStringLiteral("vol"));
    EXPECT_EQ(vol->GetValue(), 100);
}

TEST(SkinFile, EachApplicationIsAnIndependentCopy)
{
    CSkin skin;
    ASSERT_EQ(skin.Parse(QString::fromUtf8(kTree), QString()), S_OK);
    auto a = Apply(skin, "First");
    auto b = Apply(skin, "First");
    FindSkinObject(a.get(), QStringLiteral("label"))->SetCaption(QStringLiteral("바뀜"));
    FindSkinObject(a.get(), QStringLiteral("outer"))->SetVisible(false);
    EXPECT_EQ(FindSkinObject(b.get(), QStringLiteral("label"))->GetCaption(),
              QStringLiteral("이름; 그리고 \"따옴표\""));
    EXPECT_TRUE(FindSkinObject(b.get(), QStringLiteral("outer"))->IsVisible());
    EXPECT_FALSE(FindSkinObject(a.get(), QStringLiteral("label"))->IsShown());
}

TEST(SkinFile, AnchorsFollowTheFormSizeAndSetRectResetsTheReference)
{
    CSkin skin;
    ASSERT_EQ(skin.Parse(QStringLiteral(R"(
form F {
    size = 100, 100
    frame stretch {
        rect = 10, 10, 80, 20
        anchor = left, top, right
        frame inner {
            rect = 0, 0, 10, 10
            anchor = right, bottom
        }
    }
    frame corner {
        rect = 80, 80, 10, 10
        anchor = right, bottom
    }
    frame all {
        rect = 10, 40, 80, 30
        anchor = left, top, right, bottom
    }
    frame fixed {
        rect = 5, 5, 5, 5
    }
}
)"),
                         QString()),
              S_OK)
        << skin.LastError().toStdString();
    auto root = Apply(skin, "F");
    root->ResizeTo(QSize(150, 120));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("stretch"))->GetRect(), QRect(10, 10, 130, 20));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("inner"))->GetRect(), QRect(50, 0, 10, 10));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("corner"))->GetRect(), QRect(130, 100, 10, 10));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("all"))->GetRect(), QRect(10, 40, 130, 50));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("fixed"))->GetRect(), QRect(5, 5, 5, 5));
    // Shrinking below the design size never makes negative sizes.
    root->ResizeTo(QSize(20, 20));
    EXPECT_EQ(FindSkinObject(root.get(), QStringLiteral("all"))->GetRect().size(), QSize(0, 0));
    // A rectangle set by the window is kept and anchored from there on.
    root->ResizeTo(QSize(150, 120));
    CSkinObject *all = FindSkinObject(root.get(), QStringLiteral("all"));
    all->SetRect(QRect(0, 0, 100, 100));
    root->ResizeTo(QSize(160, 130));
    EXPECT_EQ(all->GetRect(), QRect(0, 0, 110, 110));
}

TEST(SkinFile, ErrorsNameTheLineAndLeaveTheSkinEmpty)
{
    const struct {
        const char *text;
        const char *expect;
    } cases[] = {
        {"form F {\n  size = 1, 2\n  colour = #fff\n}\n", "line 3: unknown property"},
        {"form F {\n  frame a {\n  rect = 1, 2, 3\n }\n}\n", "line 3: rect needs"},
        {"form F {\n  frame a {\n}\n", "block is not closed"},
        {"}\n", "line 1:"},
        {"frame a {\n}\n", "line 1: forms stand at the top level"},
        {"form F {\n  form G {\n  }\n}\n", "line 2: forms stand"},
        {"form F {\n  widget w {\n  }\n}\n", "line 2: unknown kind"},
        {"form F {\n  caption = \"open\n}\n", "line 2: a quote is not closed"},
        {"image a = missing.png\nform F {\n}\n", "line 1: cannot read image"},
        {"; nothing\n", "no form"},
        {"form F {\n  fill = red\n}\n", "line 2: fill takes a colour"},
    };
    for (const auto &c : cases) {
        CSkin skin;
        EXPECT_EQ(skin.Parse(QString::fromUtf8(c.text), QStringLiteral("/nonexistent")), E_FAIL) << c.text;
        EXPECT_TRUE(skin.LastError().contains(QString::fromUtf8(c.expect))) << skin.LastError().toStdString();
        EXPECT_FALSE(skin.IsLoaded());
    }
    CSkin skin;
    EXPECT_EQ(skin.Load(QStringLiteral("/nonexistent/Control.skn")), E_FAIL);
    EXPECT_FALSE(skin.IsLoaded());
}

TEST(SkinFile, NamedImagesDrawTheirStateAndSlices)
{
    App<QApplication>();
    TestDir dir("skin-images");
    // A strip of two 4 x 4 states: red, then green.
    QImage strip(8, 4, QImage::Format_ARGB32);
    strip.fill(Qt::red);
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x)
            strip.setPixelColor(x, y, Qt::green);
    ASSERT_TRUE(strip.save(QString::fromStdString(dir.file("strip.png"))));
    {
        std::ofstream out(dir.file("s.skn"));
        out << "image Bar = strip.png, 2\nform F {\n size = 10, 10\n}\n";
    }
    CSkin skin;
    ASSERT_EQ(skin.Load(QString::fromStdString(dir.file("s.skn"))), S_OK) << skin.LastError().toStdString();
    EXPECT_TRUE(skin.HasImage(QStringLiteral("bar")));
    EXPECT_EQ(skin.ImageStates(QStringLiteral("BAR")), 2);
    QImage canvas(20, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        EXPECT_TRUE(skin.DrawImage(p, QStringLiteral("bar"), QRect(0, 0, 10, 10), 1));
        EXPECT_TRUE(skin.DrawImage(p, QStringLiteral("bar"), QRect(10, 10, 10, 10), 0));
        EXPECT_FALSE(skin.DrawImage(p, QStringLiteral("none"), QRect(0, 0, 5, 5)));
    }
    EXPECT_EQ(canvas.pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(canvas.pixelColor(15, 15), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(15, 5), QColor(Qt::white));
}

// The skins that ship: they load and carry the names the windows look for.
TEST(SkinFile, ShippedControlSkinHasTheChatWindowObjects)
{
    App<QApplication>();
    CSkin skin;
    const QString path = QString::fromUtf8(VELMOR_PROGRAM_DIR "/Skin/Control.skn");
    ASSERT_EQ(skin.Load(path), S_OK) << skin.LastError().toStdString();
    auto root = Apply(skin, "Control");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetRect().size(), QSize(267, 495));
    QRect previousBottom;
    for (const char *name : {"ul_body", "ul", "richedit", "splitter", "edit"}) {
        CSkinObject *o = FindSkinObject(root.get(), QString::fromUtf8(name));
        ASSERT_NE(o, nullptr) << name;
        const QRect r = o->GetFormRect();
        EXPECT_TRUE(QRect(0, 0, 267, 495).contains(r)) << name;
    }
    // Nothing of the chat area overlaps: list frame, display, splitter and
    // input line follow each other from top to bottom.
    const char *column[] = {"ul_body", "richedit", "splitter", "edit"};
    for (int i = 1; i < 4; ++i) {
        const QRect above = FindSkinObject(root.get(), QString::fromUtf8(column[i - 1]))->GetFormRect();
        const QRect below = FindSkinObject(root.get(), QString::fromUtf8(column[i]))->GetFormRect();
        EXPECT_LE(above.y() + above.height(), below.y()) << column[i - 1] << " / " << column[i];
    }
    EXPECT_TRUE(FindSkinObject(root.get(), QStringLiteral("ul_body"))
                    ->GetFormRect()
                    .contains(FindSkinObject(root.get(), QStringLiteral("ul"))->GetFormRect()));
}
