#include "CChangeName.h"

#include "SkinFonts.h"

#include "platform/CodePage.h"
#include "platform/MessageBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// The host's own name, by which the room knows its host.
constexpr const char kHostName[] = "방장";

} // namespace

CChangeName::CChangeName(const std::string &currentName, QWidget *parent, bool guest)
    : QDialog(parent), m_guest(guest)
{
    setWindowTitle(QStringLiteral("채팅이름바꾸기"));
    setFont(MakeKoreanFont(QStringLiteral("굴림"), 12));
    const QString name = QString::fromStdString(currentName);
    m_current = new QLabel(QStringLiteral("현재 이름 : %1").arg(name), this);
    m_edit = new QLineEdit(name, this);
    m_edit->selectAll();
    m_ok = new QPushButton(QStringLiteral("바꾸기"), this);
    m_ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("취소"), this);
    connect(m_ok, &QPushButton::clicked, this, &CChangeName::accept);
    connect(cancel, &QPushButton::clicked, this, &CChangeName::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_current);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);
    setFixedWidth(240);
}

void CChangeName::accept()
{
    const std::string text = m_edit->text().toStdString();
    if (platform::AnsiLength(text) > static_cast<std::size_t>(kMaxNameBytes)) {
        char message[128];
        std::snprintf(message, sizeof message, "%d자 이내로 입력해주시기 바랍니다.", kMaxNameBytes);
        platform::ShowMessageBox(message, "Velmor", platform::MB_OK);
        m_edit->setFocus();
        return;
    }
    if (m_guest && text.empty()) {
        platform::ShowMessageBox("채팅이름을 입력해주시기 바랍니다.", "Velmor", platform::MB_OK);
        m_edit->setFocus();
        return;
    }
    if (m_guest && text == kHostName) {
        platform::ShowMessageBox("\"방장\"은 방장만 쓸 수 있는 이름입니다.", "Velmor", platform::MB_OK);
        m_edit->setFocus();
        return;
    }
    if (text.empty())
        return;
    m_newName = text;
    QDialog::accept();
}
