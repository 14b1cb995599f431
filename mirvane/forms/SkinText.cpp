#include "SkinText.h"

QString FormatSkinText(const QString &skinTemplate, const QString &value)
{
    QString out;
    out.reserve(skinTemplate.size() + value.size());
    bool used = false;
    for (qsizetype i = 0; i < skinTemplate.size(); ++i) {
        const QChar c = skinTemplate[i];
        if (c == u'%' && i + 1 < skinTemplate.size()) {
            const QChar next = skinTemplate[i + 1];
            if (next == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (next == u's') {
                if (!used)
                    out += value;
                used = true;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
