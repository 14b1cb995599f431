#pragma once
// IInstaller, the web launcher control's own interface (dual: its members
// also reach IDispatch by DISPID), in slot order after the IDispatch slots.
// Strings are BSTRs; every member returns an HRESULT.
//
//   DISPID  member                                    kind
//   1       Install(bExecute, bShowMsg, pVal)         method
//   2..5    ProgName, ExeName, Script, ProgKorName    put only (BSTR)
//   6..8    ViewConfirm, ViewProgress, Waiting        put only (long)
//   9       Argument                                  put only (BSTR)
//   10      ShowWindowHandle()                        method
//   11      NotifyPartner(bstrPartnerID)              method
//   12      GlobalTag (BSTR)       13 Start (short)
//   14      ListenPort (long)      15 EncoderListenPort (long)
//   16      ConnectURL (BSTR)      17 ConnectPort (long)
//   18      ConnectEncodeURL (BSTR) 19 ConnectEncoderPort (long)
//   20      OnAirURL (BSTR)        21 OffAirURL (BSTR)
//   22      Launcher (short)                          get/put pairs
#include "ComInterfaces.h"

enum InstallerDispId : DISPID {
    DISPID_Install = 1,
    DISPID_ProgName = 2,
    DISPID_ExeName = 3,
    DISPID_Script = 4,
    DISPID_ProgKorName = 5,
    DISPID_ViewConfirm = 6,
    DISPID_ViewProgress = 7,
    DISPID_Waiting = 8,
    DISPID_Argument = 9,
    DISPID_ShowWindowHandle = 10,
    DISPID_NotifyPartner = 11,
    DISPID_GlobalTag = 12,
    DISPID_Start = 13,
    DISPID_ListenPort = 14,
    DISPID_EncoderListenPort = 15,
    DISPID_ConnectURL = 16,
    DISPID_ConnectPort = 17,
    DISPID_ConnectEncodeURL = 18,
    DISPID_ConnectEncoderPort = 19,
    DISPID_OnAirURL = 20,
    DISPID_OffAirURL = 21,
    DISPID_Launcher = 22,
};

class IInstaller : public IDispatch {
public:
    virtual HRESULT Install(LONG bExecute, LONG bShowMsg, BSTR *pVal) noexcept = 0;
    virtual HRESULT put_ProgName(BSTR newVal) noexcept = 0;
    virtual HRESULT put_ExeName(BSTR newVal) noexcept = 0;
    virtual HRESULT put_Script(BSTR newVal) noexcept = 0;
    virtual HRESULT put_ProgKorName(BSTR newVal) noexcept = 0;
    virtual HRESULT put_ViewConfirm(LONG newVal) noexcept = 0;
    virtual HRESULT put_ViewProgress(LONG newVal) noexcept = 0;
    virtual HRESULT put_Waiting(LONG newVal) noexcept = 0;
    virtual HRESULT put_Argument(BSTR newVal) noexcept = 0;
    virtual HRESULT ShowWindowHandle() noexcept = 0;
    virtual HRESULT NotifyPartner(BSTR *bstrPartnerID) noexcept = 0;
    virtual HRESULT get_GlobalTag(BSTR *pVal) noexcept = 0;
    virtual HRESULT put_GlobalTag(BSTR newVal) noexcept = 0;
    virtual HRESULT get_Start(SHORT *pVal) noexcept = 0;
    virtual HRESULT put_Start(SHORT newVal) noexcept = 0;
    virtual HRESULT get_ListenPort(LONG *pVal) noexcept = 0;
    virtual HRESULT put_ListenPort(LONG newVal) noexcept = 0;
    virtual HRESULT get_EncoderListenPort(LONG *pVal) noexcept = 0;
    virtual HRESULT put_EncoderListenPort(LONG newVal) noexcept = 0;
    virtual HRESULT get_ConnectURL(BSTR *pVal) noexcept = 0;
    virtual HRESULT put_ConnectURL(BSTR newVal) noexcept = 0;
    virtual HRESULT get_ConnectPort(LONG *pVal) noexcept = 0;
    virtual HRESULT put_ConnectPort(LONG newVal) noexcept = 0;
    virtual HRESULT get_ConnectEncodeURL(BSTR *pVal) noexcept = 0;
    virtual HRESULT put_ConnectEncodeURL(BSTR newVal) noexcept = 0;
    virtual HRESULT get_ConnectEncoderPort(LONG *pVal) noexcept = 0;
    virtual HRESULT put_ConnectEncoderPort(LONG newVal) noexcept = 0;
    virtual HRESULT get_OnAirURL(BSTR *pVal) noexcept = 0;
    virtual HRESULT put_OnAirURL(BSTR newVal) noexcept = 0;
    virtual HRESULT get_OffAirURL(BSTR *pVal) noexcept = 0;
    virtual HRESULT put_OffAirURL(BSTR newVal) noexcept = 0;
    virtual HRESULT get_Launcher(SHORT *pVal) noexcept = 0;
    virtual HRESULT put_Launcher(SHORT newVal) noexcept = 0;

protected:
    ~IInstaller() = default;
};

// Our addition for hosts that are not a web page: the result text of the
// control's last Install, which put Launcher drops. KerrowHost.exe reports
// it and turns it into its exit status.
class IInstallerResult : public IUnknown {
public:
    // The text ("Success=Execute", "fail=script", ...), empty before any
    // Install, as a new BSTR.
    virtual HRESULT GetLastResult(BSTR *pVal) noexcept = 0;

protected:
    ~IInstallerResult() = default;
};
