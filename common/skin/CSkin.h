#pragma once
// A loaded skin file: its forms (object trees used as templates), its named
// images and its font. The text format is described in README.md.
#include "platform/Win32Types.h"

#include "CSkinObject.h"

#include <QFont>
#include <QImage>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class QPainter;

class CSkin {
public:
    CSkin();
    ~CSkin();
    CSkin(const CSkin &) = delete;
    CSkin &operator=(const CSkin &) = delete;

    // Reads the skin file at `path` and the images it names (paths relative
    // to the file's folder). S_OK, or a failure with LastError() telling why;
    // a failed load leaves the skin empty.
    HRESULT Load(const QString &path);
    // Reads skin text; image files are looked up in `baseDir`.
    HRESULT Parse(const QString &text, const QString &baseDir);

    bool IsLoaded() const { return !m_forms.empty(); }
    const QString &LastError() const { return m_error; }

    // The form of that name (letter case ignored); an empty name gives the
    // first form of the file, the default form. Null when there is none.
    const CSkinObject *FindForm(const QString &name) const;
    std::vector<QString> FormNames() const;

    // The skin's font (face falls back to the closest installed font).
    QFont Font() const;

    bool HasImage(const QString &name) const;
    // Draws the named image into `target`: state `state` of its strip of
    // states (left to right), stretched, with `slice` margins (left, top,
    // right, bottom) kept unscaled. False when the image is unknown.
    bool DrawImage(QPainter &painter, const QString &name, const QRect &target, int state = 0,
                   const int slice[4] = nullptr) const;
    // The number of states in the named image's strip (0 when unknown).
    int ImageStates(const QString &name) const;

private:
    struct NamedImage {
        QImage image;
        int states = 1;
    };
    void Clear();

    std::vector<std::unique_ptr<CSkinObject>> m_forms;
    std::map<QString, NamedImage> m_images; // keyed by lower-case name
    QString m_fontFace;
    int m_fontSize = 9;
    QString m_error;
};
