#include "CSkin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPainter>

#include <cstring>

namespace {

// Splits the right side of "key = value" into tokens: commas and blanks
// separate, double quotes keep blanks and commas inside one token.
bool Tokenise(const QString &text, QStringList &tokens)
{
    tokens.clear();
    QString current;
    bool inQuote = false;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuote) {
            if (c == u'"')
                inQuote = false;
            else if (c == u'\\' && i + 1 < text.size() && text[i + 1] == u'n')
                current += u'\n', ++i;
            else if (c == u'\\' && i + 1 < text.size())
                current += text[++i];
            else
                current += c;
            continue;
        }
        if (c == u'"') {
            inQuote = true;
            quoted = true;
        } else if (c == u',' || c.isSpace()) {
            if (!current.isEmpty() || quoted)
                tokens << current;
            current.clear();
            quoted = false;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty() || quoted)
        tokens << current;
    return !inQuote;
}

// Cuts a comment (";" outside quotes) off the line.
QString StripComment(const QString &line)
{
    bool inQuote = false;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] == u'"' && (i == 0 || line[i - 1] != u'\\'))
            inQuote = !inQuote;
        else if (line[i] == u';' && !inQuote)
            return line.left(i);
    }
    return line;
}

bool ToInts(const QStringList &tokens, int count, int *out)
{
    if (tokens.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = tokens[i].toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

bool ToColor(const QString &token, QColor &color)
{
    if (token.compare(u"none", Qt::CaseInsensitive) == 0) {
        color = QColor();
        return true;
    }
    if (!token.startsWith(u'#'))
        return false;
    color = QColor::fromString(token);
    return color.isValid();
}

bool ToBool(const QString &token, bool &value)
{
    if (token == u"1" || token.compare(u"true", Qt::CaseInsensitive) == 0 ||
        token.compare(u"yes", Qt::CaseInsensitive) == 0) {
        value = true;
        return true;
    }
    if (token == u"0" || token.compare(u"false", Qt::CaseInsensitive) == 0 ||
        token.compare(u"no", Qt::CaseInsensitive) == 0) {
        value = false;
        return true;
    }
    return false;
}

bool KindFromText(const QString &text, SkinKind &kind)
{
    static const struct {
        const char16_t *name;
        SkinKind kind;
    } kinds[] = {
        {u"form", SkinKind::Form},     {u"frame", SkinKind::Frame},   {u"image", SkinKind::Image},
        {u"text", SkinKind::Text},     {u"button", SkinKind::Button}, {u"check", SkinKind::Check},
        {u"slider", SkinKind::Slider}, {u"region", SkinKind::Region},
    };
    for (const auto &k : kinds) {
        if (text.compare(QStringView(k.name), Qt::CaseInsensitive) == 0) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

// Applies one "key = value" line to an object. Returns an error text or an
// empty one.
QString ApplyProperty(CSkinObject &o, const QString &key, const QStringList &v)
{
    SkinStyle &s = o.Style();
    const QString k = key.toLower();
    int n[4] = {};
    auto one = [&]() { return v.size() == 1; };
    if (k == u"rect") {
        if (!ToInts(v, 4, n) || n[2] < 0 || n[3] < 0)
            return QStringLiteral("rect needs x, y, width, height");
        o.SetRect(QRect(n[0], n[1], n[2], n[3]));
    } else if (k == u"size") {
        if (!ToInts(v, 2, n) || n[0] < 0 || n[1] < 0)
            return QStringLiteral("size needs width, height");
        o.SetRect(QRect(o.GetRect().topLeft(), QSize(n[0], n[1])));
    } else if (k == u"anchor") {
        unsigned anchors = 0;
        for (const QString &t : v) {
            const QString a = t.toLower();
            if (a == u"left")
                anchors |= AnchorLeft;
            else if (a == u"top")
                anchors |= AnchorTop;
            else if (a == u"right")
                anchors |= AnchorRight;
            else if (a == u"bottom")
                anchors |= AnchorBottom;
            else
                return QStringLiteral("anchor takes left, top, right, bottom");
        }
        // An object anchored on neither side of an axis keeps its left or top.
        if (!(anchors & (AnchorLeft | AnchorRight)))
            anchors |= AnchorLeft;
        if (!(anchors & (AnchorTop | AnchorBottom)))
            anchors |= AnchorTop;
        o.SetAnchors(anchors);
    } else if (k == u"visible" || k == u"enabled" || k == u"checked") {
        bool b = false;
        if (!one() || !ToBool(v[0], b))
            return k + QStringLiteral(" takes 0 or 1");
        if (k == u"visible")
            o.SetVisible(b);
        else if (k == u"enabled")
            o.SetEnabled(b);
        else
            o.SetChecked(b);
    } else if (k == u"caption") {
        if (v.size() > 1)
            return QStringLiteral("caption takes one quoted text");
        o.SetCaption(v.value(0));
    } else if (k == u"tooltip") {
        if (v.size() > 1)
            return QStringLiteral("tooltip takes one quoted text");
        o.SetTooltip(v.value(0));
    } else if (k == u"command") {
        if (!ToInts(v, 1, n))
            return QStringLiteral("command takes a number");
        o.SetCommand(n[0]);
    } else if (k == u"action") {
        const QString a = v.value(0).toLower();
        if (!one())
            return QStringLiteral("action takes one word");
        if (a == u"move")
            o.SetAction(SkinAction::Move);
        else if (a == u"close")
            o.SetAction(SkinAction::Close);
        else if (a == u"minimize")
            o.SetAction(SkinAction::Minimize);
        else if (a == u"size")
            o.SetAction(SkinAction::Size);
        else if (a == u"none")
            o.SetAction(SkinAction::None);
        else
            return QStringLiteral("action takes move, close, minimize, size or none");
    } else if (k == u"fill" || k == u"fill2" || k == u"hover_fill" || k == u"pressed_fill" || k == u"color" ||
               k == u"hover_color" || k == u"disabled_color" || k == u"thumb_fill") {
        QColor c;
        if (!one() || !ToColor(v[0], c))
            return k + QStringLiteral(" takes a colour #rrggbb, #aarrggbb or none");
        if (k == u"fill")
            s.fill = c;
        else if (k == u"fill2")
            s.fill2 = c;
        else if (k == u"hover_fill")
            s.hoverFill = c;
        else if (k == u"pressed_fill")
            s.pressedFill = c;
        else if (k == u"color")
            s.textColor = c;
        else if (k == u"hover_color")
            s.hoverTextColor = c;
        else if (k == u"disabled_color")
            s.disabledTextColor = c;
        else
            s.thumbFill = c;
    } else if (k == u"border") {
        if (v.isEmpty() || v.size() > 2 || !ToColor(v[0], s.border))
            return QStringLiteral("border takes a colour and an optional width");
        if (v.size() == 2 && (!ToInts(v.mid(1), 1, n) || n[0] < 0))
            return QStringLiteral("border width must be a number");
        if (v.size() == 2)
            s.borderWidth = n[0];
    } else if (k == u"radius" || k == u"padding" || k == u"thumb_size") {
        if (!ToInts(v, 1, n) || n[0] < 0)
            return k + QStringLiteral(" takes a number");
        (k == u"radius" ? s.radius : k == u"padding" ? s.padding : s.thumbSize) = n[0];
    } else if (k == u"image" || k == u"thumb") {
        if (!one())
            return k + QStringLiteral(" takes an image name");
        (k == u"image" ? s.image : s.thumbImage) = v[0];
    } else if (k == u"slice") {
        if (!ToInts(v, 4, n))
            return QStringLiteral("slice needs left, top, right, bottom");
        std::memcpy(s.slice, n, sizeof n);
    } else if (k == u"font") {
        if (v.isEmpty() || v.size() > 3)
            return QStringLiteral("font takes a face, a size and optionally bold");
        s.fontFace = v[0];
        if (v.size() >= 2 && (!ToInts(v.mid(1, 1), 1, n) || n[0] <= 0))
            return QStringLiteral("font size must be a number");
        if (v.size() >= 2)
            s.fontSize = n[0];
        if (v.size() == 3) {
            if (v[2].compare(u"bold", Qt::CaseInsensitive) != 0)
                return QStringLiteral("the third font word can only be bold");
            s.bold = true;
        }
    } else if (k == u"bold") {
        if (!one() || !ToBool(v[0], s.bold))
            return QStringLiteral("bold takes 0 or 1");
    } else if (k == u"align") {
        Qt::Alignment h = Qt::AlignLeft, vert = Qt::AlignVCenter;
        for (const QString &t : v) {
            const QString a = t.toLower();
            if (a == u"left")
                h = Qt::AlignLeft;
            else if (a == u"center")
                h = Qt::AlignHCenter;
            else if (a == u"right")
                h = Qt::AlignRight;
            else if (a == u"top")
                vert = Qt::AlignTop;
            else if (a == u"middle")
                vert = Qt::AlignVCenter;
            else if (a == u"bottom")
                vert = Qt::AlignBottom;
            else
                return QStringLiteral("align takes left, center, right, top, middle, bottom");
        }
        s.align = h | vert;
    } else if (k == u"range") {
        if (!ToInts(v, 2, n))
            return QStringLiteral("range needs minimum, maximum");
        o.SetRange(n[0], n[1]);
    } else if (k == u"value") {
        if (!ToInts(v, 1, n))
            return QStringLiteral("value takes a number");
        o.SetValue(n[0]);
    } else if (k == u"orientation") {
        const QString a = v.value(0).toLower();
        if (!one() || (a != u"horizontal" && a != u"vertical"))
            return QStringLiteral("orientation is horizontal or vertical");
        o.SetVertical(a == u"vertical");
    } else {
        return QStringLiteral("unknown property \"%1\"").arg(key);
    }
    return {};
}

} // namespace

CSkin::CSkin() = default;
CSkin::~CSkin() = default;

void CSkin::Clear()
{
    m_forms.clear();
    m_images.clear();
    m_fontFace.clear();
    m_fontSize = 9;
}

HRESULT CSkin::Load(const QString &path)
{
    Clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return E_FAIL;
    }
    const QByteArray data = file.readAll();
    return Parse(QString::fromUtf8(data), QFileInfo(path).absolutePath());
}

HRESULT CSkin::Parse(const QString &text, const QString &baseDir)
{
    Clear();
    m_error.clear();
    std::vector<std::unique_ptr<CSkinObject>> forms;
    std::map<QString, NamedImage> images;
    // Objects being read, outermost first; a block is added to its parent
    // when it closes.
    std::vector<std::unique_ptr<CSkinObject>> open;
    const QStringList lines = text.split(u'\n');
    auto fail = [&](int line, const QString &why) {
        m_error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return E_FAIL;
    };
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QString line = StripComment(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line == u"}") {
            if (open.empty())
                return fail(lineNo, QStringLiteral("\"}\" without an open block"));
            std::unique_ptr<CSkinObject> done = std::move(open.back());
            open.pop_back();
            if (open.empty())
                forms.push_back(std::move(done));
            else
                open.back()->AddChild(std::move(done));
            continue;
        }
        if (line.endsWith(u'{')) {
            QStringList words;
            if (!Tokenise(line.chopped(1), words) || words.size() != 2)
                return fail(lineNo, QStringLiteral("a block starts with a kind and a name: kind name {"));
            SkinKind kind;
            if (!KindFromText(words[0], kind))
                return fail(lineNo, QStringLiteral("unknown kind \"%1\"").arg(words[0]));
            if ((kind == SkinKind::Form) != open.empty())
                return fail(lineNo, QStringLiteral("forms stand at the top level and only there"));
            auto object = std::make_unique<CSkinObject>(kind, words[1]);
            if (kind == SkinKind::Region || kind == SkinKind::Form)
                object->Style().textColor = QColor(0, 0, 0);
            open.push_back(std::move(object));
            continue;
        }
        const int eq = line.indexOf(u'=');
        if (eq <= 0)
            return fail(lineNo, QStringLiteral("expected \"key = value\", \"kind name {\" or \"}\""));
        const QString left = line.left(eq).trimmed();
        QStringList value;
        if (!Tokenise(line.mid(eq + 1), value))
            return fail(lineNo, QStringLiteral("a quote is not closed"));
        if (!open.empty()) {
            const QString error = ApplyProperty(*open.back(), left, value);
            if (!error.isEmpty())
                return fail(lineNo, error);
            continue;
        }
        // Top level: the skin's font and its named images.
        QStringList leftWords;
        Tokenise(left, leftWords);
        if (leftWords.size() == 1 && leftWords[0].compare(u"font", Qt::CaseInsensitive) == 0) {
            bool ok = value.size() == 2;
            const int size = ok ? value[1].toInt(&ok) : 0;
            if (!ok || size <= 0)
                return fail(lineNo, QStringLiteral("font takes a face and a size in points"));
            m_fontFace = value[0];
            m_fontSize = size;
        } else if (leftWords.size() == 2 && leftWords[0].compare(u"image", Qt::CaseInsensitive) == 0) {
            if (value.isEmpty() || value.size() > 2)
                return fail(lineNo, QStringLiteral("image name = file [, states]"));
            NamedImage named;
            if (value.size() == 2) {
                bool ok = false;
                named.states = value[1].toInt(&ok);
                if (!ok || named.states <= 0)
                    return fail(lineNo, QStringLiteral("the number of states must be positive"));
            }
            const QString file = QDir(baseDir).filePath(value[0]);
            if (!named.image.load(file))
                return fail(lineNo, QStringLiteral("cannot read image \"%1\"").arg(file));
            images[leftWords[1].toLower()] = std::move(named);
        } else {
            return fail(lineNo, QStringLiteral("only font and image stand outside a form"));
        }
    }
    if (!open.empty())
        return fail(static_cast<int>(lines.size()), QStringLiteral("a block is not closed"));
    if (forms.empty())
        return fail(static_cast<int>(lines.size()), QStringLiteral("the skin has no form"));
    for (auto &form : forms) {
        form->FreezeAnchors();
        form->AttachView(nullptr);
    }
    m_forms = std::move(forms);
    m_images = std::move(images);
    return S_OK;
}

const CSkinObject *CSkin::FindForm(const QString &name) const
{
    if (m_forms.empty())
        return nullptr;
    if (name.isEmpty())
        return m_forms.front().get();
    for (const auto &form : m_forms)
        if (form->GetName().compare(name, Qt::CaseInsensitive) == 0)
            return form.get();
    return nullptr;
}

std::vector<QString> CSkin::FormNames() const
{
    std::vector<QString> names;
    for (const auto &form : m_forms)
        names.push_back(form->GetName());
    return names;
}

QFont CSkin::Font() const
{
    QFont font(m_fontFace.isEmpty() ? QStringLiteral("굴림") : m_fontFace);
    font.setPointSize(m_fontSize);
    return font;
}

bool CSkin::HasImage(const QString &name) const
{
    return m_images.count(name.toLower()) != 0;
}

int CSkin::ImageStates(const QString &name) const
{
    auto it = m_images.find(name.toLower());
    return it == m_images.end() ? 0 : it->second.states;
}

bool CSkin::DrawImage(QPainter &painter, const QString &name, const QRect &target, int state,
                      const int slice[4]) const
{
    auto it = m_images.find(name.toLower());
    if (it == m_images.end() || target.isEmpty())
        return false;
    const QImage &image = it->second.image;
    const int states = it->second.states;
    const int w = image.width() / states;
    state = std::clamp(state, 0, states - 1);
    const QRect source(state * w, 0, w, image.height());
    const int zero[4] = {0, 0, 0, 0};
    const int *m = slice ? slice : zero;
    if (m[0] == 0 && m[1] == 0 && m[2] == 0 && m[3] == 0) {
        painter.drawImage(target, image, source);
        return true;
    }
    // Nine pieces: corners unscaled, edges stretched along one axis, middle
    // stretched along both.
    const int sx[4] = {source.left(), source.left() + m[0], source.left() + w - m[2], source.left() + w};
    const int sy[4] = {0, m[1], image.height() - m[3], image.height()};
    const int tx[4] = {target.left(), target.left() + m[0], target.left() + target.width() - m[2],
                       target.left() + target.width()};
    const int ty[4] = {target.top(), target.top() + m[1], target.top() + target.height() - m[3],
                       target.top() + target.height()};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRect s(sx[col], sy[row], sx[col + 1] - sx[col], sy[row + 1] - sy[row]);
            const QRect t(tx[col], ty[row], tx[col + 1] - tx[col], ty[row + 1] - ty[row]);
            if (s.width() > 0 && s.height() > 0 && t.width() > 0 && t.height() > 0)
                painter.drawImage(t, image, s);
        }
    }
    return true;
}
