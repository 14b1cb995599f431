#pragma once
// Holds one interface reference and releases it when it goes.
#include "ComInterfaces.h"

#include <utility>

template <typename T> class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { Reset(); }
    CComPtr(const CComPtr &) = delete;
    CComPtr &operator=(const CComPtr &) = delete;
    CComPtr(CComPtr &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComPtr &operator=(CComPtr &&other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    T *Get() const { return m_p; }
    T *operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For an out-parameter (void **): releases what it holds first.
    void **Out()
    {
        Reset();
        return reinterpret_cast<void **>(&m_p);
    }
    // Takes over a reference the caller already owns.
    void Attach(T *p)
    {
        Reset();
        m_p = p;
    }
    void Reset()
    {
        if (m_p != nullptr)
            std::exchange(m_p, nullptr)->Release();
    }

    // The interface `riid` of what this holds, into `other`.
    template <typename U> HRESULT QueryInterface(REFIID riid, CComPtr<U> &other) const
    {
        return m_p != nullptr ? m_p->QueryInterface(riid, other.Out()) : E_POINTER;
    }

private:
    T *m_p = nullptr;
};
