#pragma once
// The model behind one device drop-down list: entries of a text (UTF-8) and
// an item value (the device's moniker, or null), with the combo-box
// operations the device selection uses. The main window binds a widget to it
// and follows its changes through the listener. Used on the window's thread
// only.
#include "CDeviceMoniker.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

inline constexpr int CB_ERR = -1;

class CDeviceList {
public:
    using ItemData = std::shared_ptr<CDeviceMoniker>;

    // Inserts at index (-1: at the end); returns the position or CB_ERR.
    int InsertString(int index, const std::string &text);
    int AddString(const std::string &text) { return InsertString(-1, text); }
    int SetItemData(int index, ItemData data);
    ItemData GetItemData(int index) const;
    // The text of an entry; CB_ERR (and an empty text) for a bad index.
    int GetLBText(int index, std::string &text) const;
    int GetCount() const { return static_cast<int>(m_entries.size()); }
    int GetCurSel() const { return m_curSel; }
    // Selects an entry (-1 clears the selection); CB_ERR for a bad index.
    int SetCurSel(int index);
    void ResetContent();
    void EnableWindow(bool enabled);
    bool IsWindowEnabled() const { return m_enabled; }

    // Called after every change of the entries, the selection or the
    // enabled state.
    void SetChangeListener(std::function<void()> listener) { m_listener = std::move(listener); }

private:
    struct Entry {
        std::string text;
        ItemData data;
    };
    void Changed();

    std::vector<Entry> m_entries;
    int m_curSel = CB_ERR;
    bool m_enabled = true;
    std::function<void()> m_listener;
};
