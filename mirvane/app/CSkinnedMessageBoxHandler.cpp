#include "CSkinnedMessageBoxHandler.h"

#include "CSkinMessageBox.h"

#include "platform/WindowThread.h"

#include <QApplication>

#include <memory>

namespace {

platform::MessageBoxHandler &PlainHandler()
{
    static platform::MessageBoxHandler plain;
    return plain;
}

} // namespace

CSkinnedMessageBoxHandler::CSkinnedMessageBoxHandler(QString skinPath, platform::MessageBoxHandler plain,
                                                     bool headless)
    : m_skinPath(std::move(skinPath)), m_plain(std::move(plain)), m_headless(headless)
{
    if (!m_plain)
        m_plain = &platform::StderrMessageBox;
}

int CSkinnedMessageBoxHandler::Plain(const platform::MessageBoxRequest &request)
{
    const platform::MessageBoxHandler &plain = PlainHandler();
    return plain ? plain(request) : platform::StderrMessageBox(request);
}

void CSkinnedMessageBoxHandler::Install(const QString &skinPath)
{
    // The plain handler is the one installed before the first skinned one.
    platform::MessageBoxHandler current = platform::SetMessageBoxHandler({});
    if (!PlainHandler())
        PlainHandler() = current;
    auto handler =
        std::make_shared<CSkinnedMessageBoxHandler>(skinPath, PlainHandler(), CSkinDialog::IsHeadless());
    platform::SetMessageBoxHandler([handler](const platform::MessageBoxRequest &r) { return (*handler)(r); });
}

int CSkinnedMessageBoxHandler::operator()(const platform::MessageBoxRequest &request)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (m_headless || !app)
        return m_plain(request);
    const std::optional<int> answer =
        platform::CallOnWindowThread([this, &request] { return OnWindowThread(request); });
    return answer ? *answer : platform::StderrMessageBox(request);
}

int CSkinnedMessageBoxHandler::OnWindowThread(const platform::MessageBoxRequest &request)
{
    if (m_showing) {
        // The skinned box being made right now could not use its skin and
        // says so: the plain box with the message itself follows instead.
        if (request.text == CSkinDialog::kSkinFailedText)
            return platform::IDOK;
        return m_plain(request);
    }
    m_showing = true;
    int answer;
    {
        CSkinMessageBox box(m_skinPath, QString::fromStdString(request.text),
                            QString::fromStdString(request.caption), request.style & 0xFu);
        answer = box.DoModal();
    }
    m_showing = false;
    if (answer == CSkinDialog::kFailedResult)
        answer = m_plain(request);
    return answer;
}
