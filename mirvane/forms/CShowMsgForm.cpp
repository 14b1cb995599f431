#include "CShowMsgForm.h"

CShowMsgForm::CShowMsgForm(const QString &skinPath, const QString &imageName, QWidget *parent)
    : CSkinDialog(IDD, skinPath, QStringLiteral("ShowMsg_Form"), parent), m_imageName(imageName)
{
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setModal(false);
}

bool CShowMsgForm::OnInitDialog()
{
    if (!CSkinDialog::OnInitDialog())
        return false;
    CentreOnScreen();
    return true;
}

bool CShowMsgForm::ShowText(const QString &text)
{
    if (!Create())
        return false;
    SetElementText(QStringLiteral("Message_Txt"), text);
    if (IsHeadless())
        WriteHeadless(windowTitle(), text);
    // Topmost, at the place and size it has (SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW).
    show();
    if (!IsHeadless())
        raise();
    return true;
}

void CShowMsgForm::Close()
{
    hide();
    ReleaseSkin();
}
