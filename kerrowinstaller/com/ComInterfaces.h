#pragma once
// The standard interfaces the web launcher control answers and its host
// calls, in their slot order: IUnknown, IClassFactory, IDispatch,
// IObjectSafety, IPersist, IPersistPropertyBag and the IPropertyBag a host
// hands to it. They keep the names, methods and order of their Windows
// counterparts; arguments that only make sense with a COM runtime (locale,
// exception information) are left out. Every method is noexcept: nothing
// is ever thrown across the interface.
#include "ComVariant.h"

class IUnknown {
public:
    // The interface `riid` of this object in `*ppv` (with a reference), or
    // E_NOINTERFACE and null.
    virtual HRESULT QueryInterface(REFIID riid, void **ppv) noexcept = 0;
    virtual ULONG AddRef() noexcept = 0;
    virtual ULONG Release() noexcept = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    // A new object asked for as `riid`; aggregation (`outer`) is refused.
    virtual HRESULT CreateInstance(IUnknown *outer, REFIID riid, void **ppv) noexcept = 0;
    // Keeps the module loaded (DllCanUnloadNow says S_FALSE) while locked.
    virtual HRESULT LockServer(BOOL lock) noexcept = 0;

protected:
    ~IClassFactory() = default;
};

// Invoke's kinds of call.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

// Arguments of Invoke, last argument first (as a script engine passes them).
struct DISPPARAMS {
    VARIANT *rgvarg;
    UINT cArgs;
};

class IDispatch : public IUnknown {
public:
    // No type information is published here: 0.
    virtual HRESULT GetTypeInfoCount(UINT *count) noexcept = 0;
    virtual HRESULT GetTypeInfo(UINT index, void **typeInfo) noexcept = 0;
    // The DISPIDs of member names (compared without regard to case);
    // DISP_E_UNKNOWNNAME with DISPID -1 for a name it does not know.
    virtual HRESULT GetIDsOfNames(const OLECHAR *const *names, UINT count, DISPID *ids) noexcept = 0;
    // Calls the member: a method, a property get (into `result`) or put
    // (the one argument).
    virtual HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result) noexcept = 0;

protected:
    ~IDispatch() = default;
};

// IObjectSafety's options.
inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

class IObjectSafety : public IUnknown {
public:
    virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD *supported, DWORD *enabled) noexcept = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD options) noexcept = 0;

protected:
    ~IObjectSafety() = default;
};

// Where a property bag reports what it could not read; the control passes
// it on untouched.
class IErrorLog;

// The page's parameters as the host hands them to the control.
class IPropertyBag : public IUnknown {
public:
    // The value named `name` into `value` (cleared first); E_INVALIDARG when
    // the bag holds no such name.
    virtual HRESULT Read(const OLECHAR *name, VARIANT *value, IErrorLog *log) noexcept = 0;
    virtual HRESULT Write(const OLECHAR *name, VARIANT *value) noexcept = 0;

protected:
    ~IPropertyBag() = default;
};

class IPersist : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID *clsid) noexcept = 0;

protected:
    ~IPersist() = default;
};

class IPersistPropertyBag : public IPersist {
public:
    virtual HRESULT InitNew() noexcept = 0;
    virtual HRESULT Load(IPropertyBag *bag, IErrorLog *log) noexcept = 0;
    virtual HRESULT Save(IPropertyBag *bag, BOOL clearDirty, BOOL saveAll) noexcept = 0;

protected:
    ~IPersistPropertyBag() = default;
};
