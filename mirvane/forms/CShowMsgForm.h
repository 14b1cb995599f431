#pragma once
// The status window (dialog 104, skin form "ShowMsg_Form"): a modeless,
// topmost window with one line of text in "Message_Txt", shown while the
// updater checks for updates. Showing a text makes the window when needed
// and puts it on top without moving or resizing it; Close() destroys it.
// Without a display the text goes to standard error.
#include "CSkinDialog.h"

class CShowMsgForm : public CSkinDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 104;

    // `imageName` is the script's "updater"/"MsgImg".
    CShowMsgForm(const QString &skinPath, const QString &imageName, QWidget *parent = nullptr);

    // Sets "Message_Txt" and shows the window topmost. False when the window
    // cannot be made (its skin failed; the message was shown).
    bool ShowText(const QString &text);
    // Hides the window and lets its skin go; the next ShowText() makes it again.
    void Close();

    const QString &ImageName() const { return m_imageName; }

protected:
    bool OnInitDialog() override;

private:
    QString m_imageName;
};
