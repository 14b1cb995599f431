#include "CInstallNotice.h"

#include "LauncherMessages.h"
#include "SkinFonts.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>

CInstallNotice::CInstallNotice(const QString &korName, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QString::fromUtf8(launcher::kCaption));
    InstallKoreanFontSubstitutes();
    QFont font(QStringLiteral("굴림"));
    font.setPointSize(9);
    setFont(font);
    m_text = new QLabel(
        QString::fromStdString(launcher::FormatMessageText(launcher::kNotice, {korName.toStdString()})));
    m_text->setTextFormat(Qt::PlainText); // the name comes from the page
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_text->setMargin(12);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString CInstallNotice::Text() const
{
    return m_text->text();
}
