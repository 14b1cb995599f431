#include "CMemberTable.h"

#include "ChatProtocol.h"
#include "IChatMemberView.h"

#include "platform/CodePage.h"

std::uint64_t CMemberTable::Add(std::string_view name, std::uint8_t flag)
{
    std::lock_guard change(m_changeMutex);
    int row = 0;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_rows.push_back(Row{id, std::string(name), flag});
        row = static_cast<int>(m_rows.size()) - 1;
    }
    NotifyAdded(row, std::string(name), flag);
    return id;
}

bool CMemberTable::RemoveId(std::uint64_t id)
{
    std::lock_guard change(m_changeMutex);
    int row = -1;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].id == id) {
                m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(i));
                row = static_cast<int>(i);
                break;
            }
        }
    }
    if (row < 0)
        return false;
    NotifyRemoved(row);
    return true;
}

bool CMemberTable::RemoveName(std::string_view name)
{
    std::lock_guard change(m_changeMutex);
    int row = -1;
    {
        std::lock_guard lock(m_mutex);
        // A member that leaves is another guest: prefer a guest row, and
        // never take this member's own row.
        for (std::size_t i = 0; i < m_rows.size() && row < 0; ++i)
            if (m_rows[i].flag == MEMBER_GUEST && chat::NamesEqualNoCase(m_rows[i].name, name))
                row = static_cast<int>(i);
        for (std::size_t i = 0; i < m_rows.size() && row < 0; ++i)
            if (m_rows[i].flag != MEMBER_SELF && chat::NamesEqualNoCase(m_rows[i].name, name))
                row = static_cast<int>(i);
        if (row >= 0)
            m_rows.erase(m_rows.begin() + row);
    }
    if (row < 0)
        return false;
    NotifyRemoved(row);
    return true;
}

bool CMemberTable::RenameName(std::string_view oldName, std::string_view newName)
{
    std::lock_guard change(m_changeMutex);
    int row = -1;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (chat::NamesEqualNoCase(m_rows[i].name, oldName)) {
                m_rows[i].name = std::string(newName);
                row = static_cast<int>(i);
                break;
            }
        }
    }
    if (row < 0)
        return false;
    NotifyRenamed(row, std::string(newName));
    return true;
}

bool CMemberTable::RenameId(std::uint64_t id, std::string_view newName)
{
    std::lock_guard change(m_changeMutex);
    int row = -1;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].id == id) {
                m_rows[i].name = std::string(newName);
                row = static_cast<int>(i);
                break;
            }
        }
    }
    if (row < 0)
        return false;
    NotifyRenamed(row, std::string(newName));
    return true;
}

std::vector<CMemberTable::Row> CMemberTable::Snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_rows;
}

std::size_t CMemberTable::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_rows.size();
}

std::optional<CMemberTable::Row> CMemberTable::Find(std::uint64_t id) const
{
    std::lock_guard lock(m_mutex);
    for (const Row &r : m_rows)
        if (r.id == id)
            return r;
    return std::nullopt;
}

void CMemberTable::NotifyAdded(int row, const std::string &name, std::uint8_t flag)
{
    if (m_view)
        m_view->OnMemberAdded(row, platform::AnsiToUtf8(name), flag);
}

void CMemberTable::NotifyRemoved(int row)
{
    if (m_view)
        m_view->OnMemberRemoved(row);
}

void CMemberTable::NotifyRenamed(int row, const std::string &name)
{
    if (m_view)
        m_view->OnMemberRenamed(row, platform::AnsiToUtf8(name));
}
