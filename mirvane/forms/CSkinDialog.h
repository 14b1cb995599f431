#pragma once
// The skinned dialog every window of the updater is built on: a frameless
// dialog whose whole surface the skin control paints from the skin file of
// the configuration, with a named skin form (or the skin's default form).
//
// The control is loaded at run time from the path registered under its class
// id. When it cannot be loaded, or the skin file cannot be loaded or its form
// applied, the window shows "스킨파일을 열 수 없거나 적용하지 못했습니다..."
// in a plain message box and ends with result 3.
//
// Without a display (Qt's offscreen platform) a window still loads its skin
// but asks nobody: DoModal() writes caption and text to standard error and
// answers as $VELMOR_MESSAGEBOX_ANSWERS says (RunHeadless()).
//
// Lives on the window thread; the skin control's events arrive there.
#include "ISkinControl.h"

#include "platform/Module.h"

#include <QDialog>
#include <QPointer>
#include <QString>

class CSkinDialog : public QDialog, protected ISkinEventSink {
    Q_OBJECT
public:
    // The result of a window that could not be made (its skin, its worker).
    static constexpr int kFailedResult = 3;
    static const char kSkinFailedText[];
    static const char kPlainCaption[]; // "Mirvane"

    CSkinDialog(int idd, const QString &skinPath, const QString &formName, QWidget *parent = nullptr);
    ~CSkinDialog() override;

    // Makes the window (once) and runs it modally; the button's identifier
    // or the window's own result, kFailedResult when it could not be made.
    int DoModal();
    // Makes the window without running it (modeless windows, pictures,
    // tests): the skin control, the skin file, the form, then the window's
    // own set-up. False when that failed (the message was shown).
    bool Create();
    bool IsCreated() const { return m_created; }

    // Sets the caption of the named element and repaints it; false when the
    // window has no skin form or no such element.
    bool SetElementText(const QString &name, const QString &text);

    int GetDlgId() const { return m_idd; }
    const QString &SkinPath() const { return m_skinPath; }
    const QString &FormName() const { return m_formName; }
    ISkinControl *SkinControl() const { return m_skin; }
    // The applied form's root object; null before Create() or after a failure.
    ISkinObject *SkinForm() const { return m_form; }

    // The element of that name (depth-first, letter case ignored) and its
    // rectangle in window coordinates; null when there is none.
    ISkinObject *FindElement(const QString &name, QRect *windowRect = nullptr) const;
    // The element's caption, or an empty text.
    QString ElementText(const QString &name) const;

    // No display to show windows on: Qt's offscreen or minimal platform, or
    // no widget application at all.
    static bool IsHeadless();
    // "[caption] text" ("[caption]" without a text) on standard error, the
    // form a headless run reads.
    static void WriteHeadless(const QString &caption, const QString &text);

protected:
    // The window's set-up after the skin is on; derived windows call the
    // base first and return false (after setting their result) to fail.
    virtual bool OnInitDialog();
    // DoModal() without a display. The base runs the window's event loop.
    virtual int RunHeadless();
    // A left-button click on an object: pressed and released on it.
    virtual void OnSkinClick(ISkinObject *object);
    // Whether a press there moves the window: the form's background and the
    // frame's top ("Top", "Caption").
    virtual bool IsMoveArea(ISkinObject *object) const;

    // Resizes the window and lets the skin form follow at once, also while
    // the window is still hidden.
    void ResizeWindow(const QSize &size);
    // Centres the window on the screen less its panels.
    void CentreOnScreen();
    // Removes the skin control (a window that is closed for good).
    void ReleaseSkin();

    void OnSkinMouseDown(ISkinObject *object, int button, int x, int y) override;
    void OnSkinMouseUp(ISkinObject *object, int button, int x, int y) override;

private:
    bool LoadSkin();

    int m_idd;
    QString m_skinPath;
    QString m_formName;
    // Declared before the control: the library outlives the widget it made.
    platform::CModule m_module;
    ISkinControl *m_skin = nullptr;
    QPointer<QWidget> m_skinWidget;
    ISkinObject *m_form = nullptr;
    ISkinObject *m_pressed = nullptr;
    bool m_created = false;
};
