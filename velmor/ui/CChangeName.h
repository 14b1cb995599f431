#pragma once
// The nickname dialog "채팅이름바꾸기": shows the current name, lets the user
// edit it and refuses names longer than 14 bytes (CP949) with a message;
// for the host an empty name keeps the dialog open without a word.
// A guest's dialog also refuses, with a message, the empty name and the
// host's name "방장": the host drops such a rename, so taking it would leave
// the guest's own name out of step with the room. GUI thread only.
#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class CChangeName : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxNameBytes = 14;

    // `guest`: the dialog of a guest (see above).
    CChangeName(const std::string &currentName, QWidget *parent = nullptr, bool guest = false);

    // The name the user confirmed (UTF-8); valid after the dialog was accepted.
    const std::string &NewName() const { return m_newName; }

    QLineEdit *NameEdit() const { return m_edit; }
    QPushButton *OkButton() const { return m_ok; }

    void accept() override;

private:
    QLabel *m_current = nullptr; // static 1039
    QLineEdit *m_edit = nullptr; // edit 1038
    QPushButton *m_ok = nullptr;
    std::string m_newName;
    bool m_guest = false;
};
