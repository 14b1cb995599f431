#pragma once
// The room's members: the rows the user list control shows, in row order
// (on the host the host's own row first, then the guests in admission
// order). Each row has a name (CP949 bytes, as it travels) and a member flag
// (its icon index), plus an id that stays with the row so that the host can
// remove or rename exactly the row of one connection even when two members
// share a name.
//
// Threads: any thread may read or change it. Every change is reported to the
// attached IChatMemberView while changes are held back, so the view sees the
// changes one at a time in the order they happened; readers only wait for
// the short copy of the rows.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IChatMemberView;

class CMemberTable {
public:
    struct Row {
        std::uint64_t id = 0;
        std::string name; // CP949
        std::uint8_t flag = 0;
    };

    explicit CMemberTable(IChatMemberView *view = nullptr) : m_view(view) {}
    CMemberTable(const CMemberTable &) = delete;
    CMemberTable &operator=(const CMemberTable &) = delete;

    // Appends a row; returns its id (never 0, never reused).
    std::uint64_t Add(std::string_view name, std::uint8_t flag);
    // Removes the row with this id. False when there is none.
    bool RemoveId(std::uint64_t id);
    // Removes one row whose name equals `name` without regard to case: the
    // first such row with flag MEMBER_GUEST, else the first such row that is
    // not the MEMBER_SELF row. Returns whether a row went.
    bool RemoveName(std::string_view name);
    // The first row whose name equals `oldName` without regard to case takes
    // `newName`. False when there is none.
    bool RenameName(std::string_view oldName, std::string_view newName);
    // The row with this id takes `newName`. False when there is none.
    bool RenameId(std::uint64_t id, std::string_view newName);

    std::vector<Row> Snapshot() const;
    std::size_t Count() const;
    std::optional<Row> Find(std::uint64_t id) const;

private:
    void NotifyAdded(int row, const std::string &name, std::uint8_t flag);
    void NotifyRemoved(int row);
    void NotifyRenamed(int row, const std::string &name);

    IChatMemberView *m_view;
    std::mutex m_changeMutex; // held across one change and its report
    mutable std::mutex m_mutex; // guards the rows
    std::vector<Row> m_rows;
    std::uint64_t m_nextId = 1;
};
