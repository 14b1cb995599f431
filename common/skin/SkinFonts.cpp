#include "SkinFonts.h"

#include <QStringList>

#include <mutex>

void InstallKoreanFontSubstitutes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QStringList korean{QStringLiteral("NanumGothic"),      QStringLiteral("NanumBarunGothic"),
                                 QStringLiteral("Noto Sans CJK KR"), QStringLiteral("UnDotum"),
                                 QStringLiteral("Baekmuk Gulim"),    QStringLiteral("DejaVu Sans")};
        for (const char16_t *face : {u"굴림", u"굴림체", u"Gulim", u"돋움", u"Dotum", u"MS Shell Dlg",
                                     u"MS Shell Dlg 2", u"바탕", u"Batang"})
            QFont::insertSubstitutions(QString::fromUtf16(face), korean);
    });
}

QFont MakeKoreanFont(const QString &face, int pixelHeight, int weight)
{
    InstallKoreanFontSubstitutes();
    QFont font(face);
    font.setPixelSize(pixelHeight);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}
