#include "platform/GuiMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/WindowThread.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

std::unique_ptr<QMessageBox> MakeQtMessageBox(const MessageBoxRequest &request)
{
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(QString::fromStdString(request.caption));
    // Texts come from pages, scripts and servers too: never read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(request.text));
    switch (request.style & 0xF0u) {
    case MB_ICONERROR:
        box->setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box->setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box->setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box->setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (request.style & 0xFu) {
    case MB_OKCANCEL:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MB_RETRYCANCEL:
        box->setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    default:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box;
}

static int ExecQtMessageBox(const MessageBoxRequest &request)
{
    switch (MakeQtMessageBox(request)->exec()) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Retry:
        return IDRETRY;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

static int QtMessageBox(const MessageBoxRequest &request)
{
    if (!qApp || QGuiApplication::platformName() == QStringLiteral("offscreen"))
        return StderrMessageBox(request);
    // From a worker thread (the install worker asks its questions from its own
    // thread): widgets live on the window thread, so the box is shown there
    // and this thread waits for the answer, as a modal box would block it.
    const std::optional<int> answer = CallOnWindowThread([&request] { return ExecQtMessageBox(request); });
    return answer ? *answer : StderrMessageBox(request);
}

void InstallGuiMessageBox()
{
    SetMessageBoxHandler(&QtMessageBox);
}

} // namespace platform
