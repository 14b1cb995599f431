#include "CSkinDialog.h"

#include "SkinControlLoader.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

#include <cstdio>

const char CSkinDialog::kSkinFailedText[] =
    "스킨파일을 열 수 없거나 적용하지 못했습니다\n\n 해당 프로그램을 다시 설치 해 주십시오.";
const char CSkinDialog::kPlainCaption[] = "Mirvane";

namespace {

ISkinObject *FindIn(ISkinObject *parent, const QPoint &origin, const QString &name, QRect *windowRect)
{
    for (int i = 0; parent && i < parent->GetChildCount(); ++i) {
        ISkinObject *child = parent->GetChild(i);
        if (!child)
            continue;
        const QRect r = child->GetRect().translated(origin);
        if (child->GetName().compare(name, Qt::CaseInsensitive) == 0) {
            if (windowRect)
                *windowRect = r;
            return child;
        }
        if (ISkinObject *found = FindIn(child, r.topLeft(), name, windowRect))
            return found;
    }
    return nullptr;
}

} // namespace

CSkinDialog::CSkinDialog(int idd, const QString &skinPath, const QString &formName, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_idd(idd), m_skinPath(skinPath),
      m_formName(formName)
{
    setWindowTitle(QString::fromUtf8(kPlainCaption));
}

CSkinDialog::~CSkinDialog()
{
    ReleaseSkin();
}

bool CSkinDialog::IsHeadless()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == u"offscreen" || platform == u"minimal";
}

void CSkinDialog::WriteHeadless(const QString &caption, const QString &text)
{
    if (text.isEmpty())
        std::fprintf(stderr, "[%s]\n", caption.toUtf8().constData());
    else
        std::fprintf(stderr, "[%s] %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(stderr);
}

int CSkinDialog::DoModal()
{
    if (!Create())
        return kFailedResult;
    return IsHeadless() ? RunHeadless() : exec();
}

bool CSkinDialog::Create()
{
    if (m_created)
        return true;
    if (!LoadSkin()) {
        platform::ShowMessageBox(kSkinFailedText, kPlainCaption, platform::MB_OK);
        setResult(kFailedResult);
        return false;
    }
    if (!OnInitDialog()) {
        setResult(kFailedResult);
        return false;
    }
    m_created = true;
    return true;
}

bool CSkinDialog::LoadSkin()
{
    ReleaseSkin();
    std::string error;
    m_skin = CreateRegisteredSkinControl(m_module, this, error);
    if (!m_skin) {
        qWarning("Mirvane: the skin control cannot be made: %s", error.c_str());
        return false;
    }
    m_skinWidget = m_skin->GetWidget();
    m_skin->SetEventSink(this);
    HRESULT hr = m_skin->LoadSkinFile(m_skinPath);
    if (FAILED(hr)) {
        qWarning("Mirvane: the skin file %s cannot be loaded (hr=0x%08x).", qUtf8Printable(m_skinPath),
                 static_cast<unsigned>(hr));
        return false;
    }
    hr = m_skin->ApplySkin(m_formName);
    if (FAILED(hr)) {
        qWarning("Mirvane: the skin form \"%s\" cannot be applied (hr=0x%08x).", qUtf8Printable(m_formName),
                 static_cast<unsigned>(hr));
        return false;
    }
    m_skin->Refresh(-1);
    m_form = m_skin->GetRoot();
    return m_form != nullptr;
}

void CSkinDialog::ReleaseSkin()
{
    if (m_skin)
        m_skin->SetEventSink(nullptr);
    delete m_skinWidget.data();
    m_skin = nullptr;
    m_form = nullptr;
    m_pressed = nullptr;
    m_created = false;
}

bool CSkinDialog::OnInitDialog()
{
    return true;
}

int CSkinDialog::RunHeadless()
{
    return exec();
}

bool CSkinDialog::SetElementText(const QString &name, const QString &text)
{
    ISkinObject *element = FindElement(name);
    if (!element)
        return false;
    element->SetCaption(text);
    element->Refresh();
    return true;
}

ISkinObject *CSkinDialog::FindElement(const QString &name, QRect *windowRect) const
{
    return m_form ? FindIn(m_form, QPoint(0, 0), name, windowRect) : nullptr;
}

QString CSkinDialog::ElementText(const QString &name) const
{
    ISkinObject *element = FindElement(name);
    return element ? element->GetCaption() : QString();
}

void CSkinDialog::ResizeWindow(const QSize &newSize)
{
    const QSize old = size();
    resize(newSize);
    if (!isVisible() && old != size()) {
        // A hidden window hears of its new size only when it is shown; the
        // skin form must follow now, as the window places its controls on it.
        QResizeEvent event(size(), old);
        QCoreApplication::sendEvent(this, &event);
    }
}

void CSkinDialog::CentreOnScreen()
{
    QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

bool CSkinDialog::IsMoveArea(ISkinObject *object) const
{
    return object == m_form || object->GetName().compare(u"Top", Qt::CaseInsensitive) == 0 ||
           object->GetName().compare(u"Caption", Qt::CaseInsensitive) == 0;
}

void CSkinDialog::OnSkinClick(ISkinObject *) {}

void CSkinDialog::OnSkinMouseDown(ISkinObject *object, int button, int, int)
{
    if (button != 1 || !object)
        return;
    m_pressed = object;
    if (IsMoveArea(object) && windowHandle())
        windowHandle()->startSystemMove();
}

void CSkinDialog::OnSkinMouseUp(ISkinObject *object, int button, int x, int y)
{
    ISkinObject *pressed = m_pressed;
    m_pressed = nullptr;
    if (button != 1 || !object || object != pressed || !object->HitTest(QPoint(x, y)))
        return;
    OnSkinClick(object);
}
