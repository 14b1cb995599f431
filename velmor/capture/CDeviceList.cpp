#include "CDeviceList.h"

int CDeviceList::InsertString(int index, const std::string &text)
{
    if (index < -1 || index > GetCount())
        return CB_ERR;
    const int at = index == -1 ? GetCount() : index;
    m_entries.insert(m_entries.begin() + at, Entry{text, nullptr});
    if (m_curSel >= at)
        ++m_curSel;
    Changed();
    return at;
}

int CDeviceList::SetItemData(int index, ItemData data)
{
    if (index < 0 || index >= GetCount())
        return CB_ERR;
    m_entries[static_cast<std::size_t>(index)].data = std::move(data);
    return 0;
}

CDeviceList::ItemData CDeviceList::GetItemData(int index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return m_entries[static_cast<std::size_t>(index)].data;
}

int CDeviceList::GetLBText(int index, std::string &text) const
{
    text.clear();
    if (index < 0 || index >= GetCount())
        return CB_ERR;
    text = m_entries[static_cast<std::size_t>(index)].text;
    return static_cast<int>(text.size());
}

int CDeviceList::SetCurSel(int index)
{
    if (index < -1 || index >= GetCount()) {
        m_curSel = CB_ERR;
        Changed();
        return CB_ERR;
    }
    m_curSel = index;
    Changed();
    return index;
}

void CDeviceList::ResetContent()
{
    m_entries.clear();
    m_curSel = CB_ERR;
    Changed();
}

void CDeviceList::EnableWindow(bool enabled)
{
    m_enabled = enabled;
    Changed();
}

void CDeviceList::Changed()
{
    if (m_listener)
        m_listener();
}
