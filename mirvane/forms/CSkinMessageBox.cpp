#include "CSkinMessageBox.h"

#include "CMessageBoxLayout.h"

#include "platform/MessageBox.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace {

std::vector<std::pair<QString, int>> ButtonsOf(unsigned type)
{
    using namespace platform;
    switch (type & 0xFu) {
    case MB_OKCANCEL:
        return {{QStringLiteral("OK_Btn"), IDOK}, {QStringLiteral("Cancel_Btn"), IDCANCEL}};
    case MB_YESNO:
        return {{QStringLiteral("Yes_Btn"), IDYES}, {QStringLiteral("No_Btn"), IDNO}};
    case MB_RETRYCANCEL:
        return {{QStringLiteral("Retry_Btn"), IDRETRY}, {QStringLiteral("Cancel_Btn"), IDCANCEL}};
    default:
        return {{QStringLiteral("OK_Btn"), IDOK}};
    }
}

const char16_t *const kAllButtons[] = {u"OK_Btn", u"Cancel_Btn", u"Yes_Btn", u"No_Btn", u"Retry_Btn"};

} // namespace

CSkinMessageBox::CSkinMessageBox(const QString &skinPath, const QString &text, const QString &caption,
                                 unsigned type, QWidget *parent)
    : CSkinDialog(IDD, skinPath, QString(), parent), m_text(text), m_caption(caption), m_type(type),
      m_buttons(ButtonsOf(type))
{
    setWindowTitle(m_caption);
}

int CSkinMessageBox::FrameSize(const QString &name, bool width) const
{
    QRect r;
    if (!FindElement(name, &r))
        return 0;
    return width ? r.width() : r.height();
}

bool CSkinMessageBox::OnInitDialog()
{
    if (!CSkinDialog::OnInitDialog())
        return false;
    SetElementText(QStringLiteral("Caption"), m_caption);

    // 1-2. The frame, the designed text area, and the text measured in the
    // skin's font line by line.
    CMessageBoxLayout::Input in;
    in.top = FrameSize(QStringLiteral("Top"), false);
    in.bottom = FrameSize(QStringLiteral("Bottom"), false);
    in.left = FrameSize(QStringLiteral("Left"), true);
    in.right = FrameSize(QStringLiteral("Right"), true);
    QRect client;
    if (FindElement(QStringLiteral("Client"), &client))
        in.designedClient = client.size();
    const QFont font = SkinControl()->GetFont();
    const QFontMetrics metrics(font);
    const QStringList lines = m_text.split(u'\n');
    int widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    in.text = QSize(widest, metrics.lineSpacing() * static_cast<int>(lines.size()));
    QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        in.screen = screen->availableGeometry();

    // 3-5. The window grown to the text, limited to the screen, centred.
    const CMessageBoxLayout::Result layout = CMessageBoxLayout::Compute(in);
    ResizeWindow(layout.window.size());
    move(layout.window.topLeft());

    m_label = new QLabel(this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setFont(font);
    m_label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_label->setAttribute(Qt::WA_TranslucentBackground);
    m_label->setText(m_text);
    m_label->setGeometry(layout.text);
    m_label->raise();

    // 6. The buttons of the type, centred in the bottom band; the others hidden.
    for (const char16_t *name : kAllButtons)
        if (ISkinObject *button = FindElement(QString::fromUtf16(name)))
            button->SetVisible(false);
    QRect band;
    if (!FindElement(QStringLiteral("BottomClient"), &band))
        band = QRect(0, height() - in.bottom, width(), in.bottom);
    std::vector<ISkinObject *> objects;
    std::vector<QRect> current;
    std::vector<QSize> sizes;
    for (const auto &[name, id] : m_buttons) {
        QRect r;
        ISkinObject *button = FindElement(name, &r);
        objects.push_back(button);
        current.push_back(r);
        sizes.push_back(button ? r.size() : QSize());
    }
    const std::vector<QRect> placed = CMessageBoxLayout::PlaceButtons(band, sizes);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (!objects[i])
            continue;
        // SetRect takes the rectangle relative to the button's parent.
        const QPoint parentOrigin = current[i].topLeft() - objects[i]->GetRect().topLeft();
        objects[i]->SetRect(placed[i].translated(-parentOrigin));
        objects[i]->SetVisible(true);
    }
    SkinControl()->Refresh(-1);
    return true;
}

QRect CSkinMessageBox::TextRect() const
{
    return m_label ? m_label->geometry() : QRect();
}

int CSkinMessageBox::RunHeadless()
{
    return platform::ShowMessageBox(m_text.toStdString(), m_caption.toStdString(), m_type & 0xFu);
}

void CSkinMessageBox::OnSkinClick(ISkinObject *object)
{
    for (const auto &[name, id] : m_buttons) {
        if (object->GetName().compare(name, Qt::CaseInsensitive) == 0) {
            done(id);
            return;
        }
    }
}

void CSkinMessageBox::reject()
{
    int answer = platform::IDOK;
    for (const auto &[name, id] : m_buttons)
        if (id == platform::IDCANCEL || id == platform::IDNO)
            answer = id;
    done(answer);
}

void CSkinMessageBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        done(m_buttons.front().second);
        return;
    }
    CSkinDialog::keyPressEvent(event);
}
