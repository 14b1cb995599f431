#pragma once
// The updater's skinned message box (dialog 130, the skin's default form):
// a text, a caption (default "Mirvane") and one of the Windows message box
// types 0 OK, 1 OK and Cancel, 4 Yes and No, 5 Retry and Cancel. DoModal()
// returns the button's identifier (IDOK 1, IDCANCEL 2, IDRETRY 4, IDYES 6,
// IDNO 7), or 3 when the skin cannot be used.
//
// The window is measured to its text: the frame parts "Top", "Bottom",
// "Left", "Right" around the text area "Client", grown for a text larger
// than the designed area and limited to the screen less its panels; the
// buttons ("OK_Btn", "Cancel_Btn", "Yes_Btn", "No_Btn", "Retry_Btn") are
// centred in "BottomClient"; "Caption" shows the caption.
//
// Without a display it is the process's message box: caption and text on
// standard error, the answer from $VELMOR_MESSAGEBOX_ANSWERS.
#include "CSkinDialog.h"

#include <vector>

class QLabel;

class CSkinMessageBox : public CSkinDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 130;

    CSkinMessageBox(const QString &skinPath, const QString &text,
                    const QString &caption = QStringLiteral("Mirvane"), unsigned type = 0,
                    QWidget *parent = nullptr);

    const QString &Text() const { return m_text; }
    unsigned Type() const { return m_type; }
    // The text's rectangle in window coordinates (after Create()).
    QRect TextRect() const;
    // The buttons shown, in order, as (element name, identifier).
    const std::vector<std::pair<QString, int>> &Buttons() const { return m_buttons; }

    // Esc or closing the window: Cancel where there is one, No for Yes/No,
    // OK for a lone OK.
    void reject() override;

protected:
    bool OnInitDialog() override;
    int RunHeadless() override;
    void OnSkinClick(ISkinObject *object) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int FrameSize(const QString &name, bool width) const;

    QString m_text;
    QString m_caption;
    unsigned m_type;
    std::vector<std::pair<QString, int>> m_buttons;
    QLabel *m_label = nullptr;
};
