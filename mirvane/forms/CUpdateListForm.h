#pragma once
// The update list (dialog 103, skin form "UpdateList_Form"): shows what the
// update brought, the script's "Information" as a page, and asks whether to
// start the program. "Yes_Btn" ends with IDYES (6), "No_Btn" with IDNO (7).
//
// The page (a fixed head, the information, "</body></html>") is written to
// "KerrowUpdateList.htm" in the temporary folder, as CP949 like every file
// the updater writes, and shown from there in a simple HTML view laid over
// the "List" element, 2 pixels larger on every side and clipped to it.
// Without a display the page's text goes to standard error and the answer
// comes from $VELMOR_MESSAGEBOX_ANSWERS.
#include "CSkinDialog.h"

class QTextBrowser;

class CUpdateListForm : public CSkinDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 103;
    static const char kPageHead[];
    static const char kPageTail[];
    static const char kPageFile[];

    CUpdateListForm(const QString &skinPath, const QString &korName, const QString &imageName,
                    const QString &information, QWidget *parent = nullptr);

    // The head, the information, the tail.
    static QString PageText(const QString &information);
    // Where the page is written: the temporary folder's "KerrowUpdateList.htm".
    static QString PagePath();

    QTextBrowser *Browser() const { return m_browser; }
    const QString &ImageName() const { return m_imageName; }

    // Esc or closing the window answers No.
    void reject() override;

protected:
    bool OnInitDialog() override;
    int RunHeadless() override;
    void OnSkinClick(ISkinObject *object) override;

private:
    QString m_korName;
    QString m_imageName;
    QString m_information;
    QTextBrowser *m_browser = nullptr;
};
