#include "CSnapDialog.h"

#include "CAboutDlg.h"
#include "CSkinWidget.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QShortcut>

// Takes the application's input while a keyboard loop runs: keys go to the
// loop before any control sees them (Enter must not send a chat line), and
// a mouse press ends the loop where it is.
class CSnapDialog::KeyboardFilter : public QObject {
public:
    explicit KeyboardFilter(CSnapDialog &dialog) : m_dialog(dialog) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            return m_dialog.OnKeyboardDragKey(key->key(), key->modifiers());
        }
        case QEvent::ShortcutOverride:
            // Accepted: every key comes as a plain key press, no shortcut
            // (Alt+F4, Alt+Space) fires during the loop.
            event->accept();
            return true;
        case QEvent::KeyRelease:
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::ApplicationDeactivate:
            // Ends the loop; a press goes on to whatever it was for.
            QMetaObject::invokeMethod(&m_dialog, [d = &m_dialog] { d->EndKeyboardDrag(true); },
                                      Qt::QueuedConnection);
            return false;
        default:
            return false;
        }
    }

private:
    CSnapDialog &m_dialog;
};

CSnapDialog::CSnapDialog(QWidget *parent) : QDialog(parent)
{
    // The items and their Korean texts of the window menu, in its order.
    m_systemMenu = new QMenu(this);
    AppendSystemMenuItem(SC_RESTORE, QStringLiteral("이전 크기로(&R)"));
    AppendSystemMenuItem(SC_MOVE, QStringLiteral("이동(&M)"));
    AppendSystemMenuItem(SC_SIZE, QStringLiteral("크기 조정(&S)"));
    AppendSystemMenuItem(SC_MINIMIZE, QStringLiteral("최소화(&N)"));
    AppendSystemMenuItem(SC_MAXIMIZE, QStringLiteral("최대화(&X)"));
    AppendSystemMenuSeparator();
    m_systemMenu->setDefaultAction(AppendSystemMenuItem(SC_CLOSE, QStringLiteral("닫기(&C)\tAlt+F4")));

    // Alt+Space opens the menu, Alt+F4 closes, also where no window manager
    // offers them.
    auto *menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this, qOverload<>(&CSnapDialog::ShowSystemMenu));
    auto *closeKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(closeKey, &QShortcut::activated, this, [this] { OnSysCommand(SC_CLOSE); });
}

CSnapDialog::~CSnapDialog()
{
    if (m_keyboardFilter)
        qApp->removeEventFilter(m_keyboardFilter.get());
}

void CSnapDialog::SetSkinned(bool skinned)
{
    m_skinned = skinned;
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::FramelessWindowHint, skinned);
    // Without a skin: a title bar with the window menu, minimise and close,
    // as the skin's caption would have offered.
    const Qt::WindowFlags frame =
        Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (skinned)
        flags &= ~frame;
    else
        flags |= frame;
    setWindowFlags(flags);
}

QMargins CSnapDialog::FrameMargins() const
{
    const QRect f = frameGeometry();
    const QRect g = geometry();
    return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
}

void CSnapDialog::SetWindowRect(const QRect &windowRect)
{
    m_pendingWindowSize = QSize();
    if (m_skinned) {
        setGeometry(windowRect); // no frame: window and client are one
        return;
    }
    const QMargins margins = FrameMargins();
    if (isVisible() && !margins.isNull()) {
        setGeometry(windowRect.marginsRemoved(margins));
        return;
    }
    // A top-level window's move() places its frame.
    move(windowRect.topLeft());
    resize(windowRect.size());
    m_pendingWindowSize = windowRect.size();
}

bool CSnapDialog::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    // The window system tells the frame once the window is shown (a move or
    // resize as it wraps the window): the client area gives the frame its share.
    if (m_pendingWindowSize.isValid() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        const QMargins margins = FrameMargins();
        if (!margins.isNull()) {
            const QSize size = m_pendingWindowSize.shrunkBy(margins);
            m_pendingWindowSize = QSize();
            resize(size.expandedTo(minimumSize()));
        }
    }
    return handled;
}

void CSnapDialog::AppendSystemMenuSeparator()
{
    m_systemMenu->addSeparator();
}

QAction *CSnapDialog::AppendSystemMenuItem(int id, const QString &text)
{
    QAction *action = m_systemMenu->addAction(text);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnSysCommand(id); });
    return action;
}

void CSnapDialog::AppendAboutItem(const std::string &siteUrl)
{
    m_aboutUrl = siteUrl;
    AppendSystemMenuSeparator();
    AppendSystemMenuItem(IDM_ABOUTBOX, QStringLiteral("Velmor 정보(&A)..."));
}

void CSnapDialog::ShowSystemMenu(const QPoint &globalPos)
{
    if (IsKeyboardDragging())
        return;
    // What applies now, as the window menu greys what does not.
    const bool minimized = isMinimized();
    const bool maximized = isMaximized();
    const bool sizable = minimumSize() != maximumSize();
    for (QAction *action : m_systemMenu->actions()) {
        switch (action->data().toInt()) {
        case SC_RESTORE:
            action->setEnabled(minimized || maximized);
            break;
        case SC_MOVE:
            action->setEnabled(!minimized && !maximized);
            break;
        case SC_SIZE:
            action->setEnabled(!minimized && !maximized && sizable);
            break;
        case SC_MINIMIZE:
            action->setEnabled(!minimized);
            break;
        case SC_MAXIMIZE:
            action->setEnabled(false); // these windows have no maximise box
            break;
        default:
            break;
        }
    }
    m_systemMenu->popup(globalPos);
}

void CSnapDialog::ShowSystemMenu()
{
    // Below the caption's left end: the skin's caption, or the top of the
    // client area under the window system's title bar.
    const QRect caption = SkinCaptionRect();
    const QPoint at = caption.isEmpty() ? QPoint(0, 0) : QPoint(caption.left(), caption.top() + caption.height());
    ShowSystemMenu(mapToGlobal(at));
}

QRect CSnapDialog::SkinCaptionRect() const
{
    if (!m_skin || !m_skinned)
        return QRect();
    std::vector<const CSkinObject *> pending{m_skin->GetRoot()};
    while (!pending.empty()) {
        const CSkinObject *o = pending.back();
        pending.pop_back();
        if (o == nullptr)
            continue;
        if (o->GetAction() == SkinAction::Move && o->IsShown())
            return o->GetFormRect();
        for (int i = o->GetChildCount() - 1; i >= 0; --i)
            pending.push_back(o->GetChild(i));
    }
    return QRect();
}

void CSnapDialog::OnSysCommand(int id)
{
    switch (id) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(m_aboutUrl, this);
        about.exec();
        break;
    }
    case SC_MOVE:
        BeginKeyboardMove();
        break;
    case SC_SIZE:
        BeginKeyboardSize();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CSnapDialog::contextMenuEvent(QContextMenuEvent *event)
{
    // A window without skin: its background stands in for the caption.
    if (!m_skinned) {
        ShowSystemMenu(event->globalPos());
        event->accept();
        return;
    }
    event->ignore();
}

void CSnapDialog::BeginKeyboardMove()
{
    BeginKeyboardDrag(Mode::Move);
}

void CSnapDialog::BeginKeyboardSize()
{
    BeginKeyboardDrag(Mode::Size);
}

void CSnapDialog::BeginKeyboardDrag(Mode mode)
{
    if (IsKeyboardDragging() || m_mode != Mode::None || isMinimized() || isMaximized())
        return;
    if (mode == Mode::Size && minimumSize() == maximumSize())
        return;
    m_keyboardStart.clear();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w->isWindow() && w->isVisible() && type != Qt::Popup && type != Qt::ToolTip)
            m_keyboardStart.emplace_back(w, w->geometry());
    }
    m_keyboardMode = mode;
    m_keyboardEdges = {};
    m_keyboardCursor = frameGeometry().center();
    if (mode == Mode::Move)
        BeginSnapMove(m_keyboardCursor);
    m_keyboardFilter = std::make_unique<KeyboardFilter>(*this);
    qApp->installEventFilter(m_keyboardFilter.get());
    activateWindow();
}

bool CSnapDialog::OnKeyboardDragKey(int key, Qt::KeyboardModifiers modifiers)
{
    const int step = (modifiers & Qt::ControlModifier) ? 1 : kKeyboardStep;
    QPoint delta;
    switch (key) {
    case Qt::Key_Left:
        delta = QPoint(-step, 0);
        break;
    case Qt::Key_Right:
        delta = QPoint(step, 0);
        break;
    case Qt::Key_Up:
        delta = QPoint(0, -step);
        break;
    case Qt::Key_Down:
        delta = QPoint(0, step);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        EndKeyboardDrag(true);
        return true;
    case Qt::Key_Escape:
        EndKeyboardDrag(false);
        return true;
    default:
        return true; // no other key reaches the window during the loop
    }
    if (m_keyboardMode == Mode::Move) {
        m_keyboardCursor += delta;
        SnapMoveTo(m_keyboardCursor);
        return true;
    }
    // Sizing: the first arrow of each axis picks the edge it then moves
    // (left or right, top or bottom).
    Qt::Edges edges = m_keyboardEdges;
    if (delta.x() != 0 && !(edges & (Qt::LeftEdge | Qt::RightEdge)))
        edges |= delta.x() < 0 ? Qt::LeftEdge : Qt::RightEdge;
    if (delta.y() != 0 && !(edges & (Qt::TopEdge | Qt::BottomEdge)))
        edges |= delta.y() < 0 ? Qt::TopEdge : Qt::BottomEdge;
    if (edges != m_keyboardEdges) {
        m_keyboardEdges = edges;
        BeginSnapSize(m_keyboardCursor, edges);
    }
    m_keyboardCursor += delta;
    SnapSizeTo(m_keyboardCursor);
    return true;
}

void CSnapDialog::EndKeyboardDrag(bool keep)
{
    if (!m_keyboardFilter)
        return;
    qApp->removeEventFilter(m_keyboardFilter.get());
    // The filter may be the caller (Enter, Escape): it goes once it returned.
    m_keyboardFilter.release()->deleteLater();
    m_keyboardMode = Mode::None;
    EndSnapDrag();
    if (!keep) {
        for (const auto &[window, rect] : m_keyboardStart)
            if (window)
                window->setGeometry(rect);
    }
    m_keyboardStart.clear();
}

std::vector<SnapWindow> CSnapDialog::CollectSnapWindows() const
{
    std::vector<SnapWindow> windows;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget *w : all) {
        if (w == this || !w->isVisible() || !w->isWindow())
            continue;
        const Qt::WindowType type = w->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
            continue;
        windows.push_back({reinterpret_cast<SnapWindowId>(w), ToSnapRect(w->frameGeometry()), false});
    }
    if (const QScreen *s = screen())
        windows.push_back({0, ToSnapRect(s->geometry()), true});
    return windows;
}

void CSnapDialog::BeginSnapMove(const QPoint &globalCursor)
{
    SnapBeginDrag(m_snap, reinterpret_cast<SnapWindowId>(this), ToSnapRect(frameGeometry()),
                  {globalCursor.x(), globalCursor.y()}, CollectSnapWindows(), m_gluing);
    m_mode = Mode::Move;
    m_lastCursor = globalCursor;
}

void CSnapDialog::SnapMoveTo(const QPoint &globalCursor)
{
    if (m_mode != Mode::Move)
        return;
    const QPoint delta = globalCursor - m_lastCursor;
    m_lastCursor = globalCursor;
    if (delta.isNull())
        return;
    const SnapRect proposed = m_snap.last.Offset(delta.x(), delta.y());
    const SnapMoveResult result = SnapMoveStep(m_snap, proposed, {globalCursor.x(), globalCursor.y()});
    move(result.rect.left, result.rect.top);
    // The glued windows move together, without activation or size change.
    const QWidgetList all = QApplication::topLevelWidgets();
    for (const SnapWindow &g : result.glued) {
        for (QWidget *w : all) {
            if (reinterpret_cast<SnapWindowId>(w) == g.id) {
                w->move(g.rect.left, g.rect.top);
                break;
            }
        }
    }
}

void CSnapDialog::BeginSnapSize(const QPoint &globalCursor, Qt::Edges edges)
{
    SnapBeginDrag(m_snap, reinterpret_cast<SnapWindowId>(this), ToSnapRect(frameGeometry()),
                  {globalCursor.x(), globalCursor.y()}, CollectSnapWindows(), false);
    m_mode = Mode::Size;
    m_startCursor = globalCursor;
    m_startRect = frameGeometry();
    m_sizeEdges = edges;
}

void CSnapDialog::SnapSizeTo(const QPoint &globalCursor)
{
    if (m_mode != Mode::Size)
        return;
    const QPoint d = globalCursor - m_startCursor;
    SnapRect r = ToSnapRect(m_startRect);
    if (m_sizeEdges & Qt::LeftEdge)
        r.left += d.x();
    if (m_sizeEdges & Qt::RightEdge)
        r.right += d.x();
    if (m_sizeEdges & Qt::TopEdge)
        r.top += d.y();
    if (m_sizeEdges & Qt::BottomEdge)
        r.bottom += d.y();
    SnapRect snapped = SnapSizeStep(m_snap, r);
    // Only the dragged edges move; the others stay where they were.
    if (!(m_sizeEdges & Qt::LeftEdge))
        snapped.left = r.left;
    if (!(m_sizeEdges & Qt::RightEdge))
        snapped.right = r.right;
    if (!(m_sizeEdges & Qt::TopEdge))
        snapped.top = r.top;
    if (!(m_sizeEdges & Qt::BottomEdge))
        snapped.bottom = r.bottom;
    // Keep the minimum size, anchored on the edge that is not dragged.
    const QSize minimum = minimumSize().expandedTo(QSize(60, 40));
    if (snapped.Width() < minimum.width()) {
        if (m_sizeEdges & Qt::LeftEdge)
            snapped.left = snapped.right - minimum.width();
        else
            snapped.right = snapped.left + minimum.width();
    }
    if (snapped.Height() < minimum.height()) {
        if (m_sizeEdges & Qt::TopEdge)
            snapped.top = snapped.bottom - minimum.height();
        else
            snapped.bottom = snapped.top + minimum.height();
    }
    setGeometry(ToQRect(snapped));
    m_snap.last = snapped;
}

void CSnapDialog::EndSnapDrag()
{
    m_mode = Mode::None;
}

void CSnapDialog::ConnectSkinDrag(CSkinWidget *skin)
{
    connect(skin, &CSkinWidget::WindowDragStarted, this, [this](const QPoint &pos, Qt::Edges edges) {
        if (edges)
            BeginSnapSize(pos, edges);
        else
            BeginSnapMove(pos);
    });
    connect(skin, &CSkinWidget::WindowDragMoved, this, [this](const QPoint &pos) {
        if (m_mode == Mode::Size)
            SnapSizeTo(pos);
        else
            SnapMoveTo(pos);
    });
    connect(skin, &CSkinWidget::WindowDragEnded, this, &CSnapDialog::EndSnapDrag);
    // A right click on the caption: the system menu where it was released.
    connect(skin, &CSkinWidget::SkinMouseUp, this, [this, skin](CSkinObject *object, int button, int x, int y) {
        if (button == SKIN_RBUTTON && object != nullptr && object->GetAction() == SkinAction::Move)
            ShowSystemMenu(skin->mapToGlobal(QPoint(x, y)));
    });
    m_skin = skin;
}
