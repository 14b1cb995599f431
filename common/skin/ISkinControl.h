#pragma once
// The skin control ActSkn43.ocx as a program sees it when it loads the
// control at run time from the path registered under its class id, without
// linking it: this header, the exported factory, and the operations below.
//
//   platform::CModule module;                       // RAII dlopen handle
//   module.Load(registeredPath);
//   auto create = module.Function<CreateSkinControlFn>(SKIN_CONTROL_FACTORY);
//   ISkinControl *skin = create ? create(IID_ISkinControl, window) : nullptr;
//
// The control is a child widget covering `window` and belongs to it (it goes
// with the window); the library must stay loaded while it exists. Operations,
// in the order a window uses them: LoadSkinFile, ApplySkin and Refresh,
// GetRoot and the object tree (ISkinObject.h); the skin's font and its named
// images for the window's own drawing. Events reach the window through
// SetEventSink (ISkinEventSink.h). Everything happens on the window's thread,
// and nothing here throws.
#include "ISkinEventSink.h"
#include "ISkinObject.h"

#include "platform/Win32Types.h"

#include <QFont>

class QPainter;
class QWidget;

// The control's class: HKCR\CLSID\{...}\InprocServer32 names the library.
inline constexpr char CLSID_SkinControl[] = "{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}";
// The interface this header describes; the factory hands out nothing else.
inline constexpr char IID_ISkinControl[] = "{92AEA298-248E-45DB-97B6-A8C7CD5892E7}";

class ISkinControl {
public:
    // Loads a skin file by full path. S_OK or E_FAIL.
    virtual HRESULT LoadSkinFile(const QString &path) = 0;
    // Applies the named form (empty: the skin's default form) to the window,
    // which takes the form's size. S_OK, or E_FAIL without a skin or form.
    virtual HRESULT ApplySkin(const QString &formName) = 0;
    // Repaints; -1 repaints everything.
    virtual void Refresh(int what) = 0;
    // The root object of the applied form; null when none is applied.
    virtual ISkinObject *GetRoot() const = 0;

    // The skin's font, as a font or selected into a painter.
    virtual QFont GetFont() const = 0;
    virtual void SelectFont(QPainter &painter) const = 0;
    // Draws the named image stretched into `target` (state: the picture of a
    // strip of states, 0 normal). False when the skin has no such image.
    virtual bool DrawImage(QPainter &painter, const QString &name, const QRect &target, int state) const = 0;

    // Where events 22, 23, 30 and 31 go; null stops them.
    virtual void SetEventSink(ISkinEventSink *sink) = 0;
    // The control's widget (a child of the window, below the window's own
    // controls).
    virtual QWidget *GetWidget() = 0;

protected:
    ~ISkinControl() = default;
};

// The library's factory, exported with C linkage under SKIN_CONTROL_FACTORY:
// a control for `window` when `iid` is IID_ISkinControl (letter case
// ignored), else null; null as well without a QApplication, off the window
// thread or when the widget cannot be made.
using CreateSkinControlFn = ISkinControl *(*)(const char *iid, QWidget *window);
inline constexpr char SKIN_CONTROL_FACTORY[] = "CreateSkinControl";
