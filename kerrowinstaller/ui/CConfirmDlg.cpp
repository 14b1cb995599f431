#include "CConfirmDlg.h"

#include "LauncherMessages.h"
#include "SkinFonts.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QString FromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

CConfirmDlg::CConfirmDlg(const QString &korName, const QString &programFilesDir, const QString &subFolder,
                         QWidget *parent)
    : QDialog(parent), m_korName(korName), m_base(programFilesDir), m_subFolder(subFolder),
      m_chooser([](QWidget *owner, const QString &title, const QString &start) {
          return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
      })
{
    setWindowTitle(QString::fromUtf8(launcher::kCaption));
    setModal(true);
    InstallKoreanFontSubstitutes();
    QFont font(QStringLiteral("굴림"));
    font.setPointSize(9);
    setFont(font);

    // The name comes from the page: shown as it is, never read as markup.
    m_line =
        new QLabel(FromUtf8(launcher::FormatMessageText(launcher::kConfirmLine, {korName.toStdString()})));
    m_line->setTextFormat(Qt::PlainText);
    auto *frame = new QGroupBox(QString::fromUtf8(launcher::kConfirmFrame));
    m_folder = new QLineEdit;
    m_folder->setReadOnly(true);
    m_folder->setMinimumWidth(260);
    m_browse = new QPushButton(QStringLiteral("..."));
    m_browse->setFixedWidth(32);
    auto *row = new QHBoxLayout(frame);
    row->addWidget(m_folder);
    row->addWidget(m_browse);
    m_start = new QPushButton(QString::fromUtf8(launcher::kConfirmStart));
    m_start->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_start);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_line);
    layout->addWidget(frame);
    layout->addLayout(buttons);

    connect(m_browse, &QPushButton::clicked, this, &CConfirmDlg::OnBrowse);
    connect(m_start, &QPushButton::clicked, this, [this] { done(kInstall); });
    ShowFolder();

    // Centred on the desktop.
    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString CConfirmDlg::Join(const QString &folder, const QString &name)
{
    if (name.isEmpty())
        return folder;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString CConfirmDlg::InstallFolder() const
{
    return Join(m_base, m_subFolder);
}

void CConfirmDlg::ShowFolder()
{
    m_folder->setText(InstallFolder());
}

void CConfirmDlg::OnBrowse()
{
    const QString title =
        FromUtf8(launcher::FormatMessageText(launcher::kBrowseTitle, {m_korName.toStdString()}));
    const QString chosen = m_chooser ? m_chooser(this, title, m_base) : QString();
    if (chosen.isEmpty())
        return;
    m_base = chosen;
    ShowFolder();
}

int CConfirmDlg::DoModal()
{
    const int result = exec();
    return result == kInstall ? kInstall : kClosed;
}
