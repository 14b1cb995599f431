#pragma once
// The user list control's side of the member table: every change to the
// table's rows is reported here so the list widget can mirror it row for row.
//
// Threads: called only on the thread the CChatRoom lives on (the window
// thread), from its event loop, in exactly the order the rows changed, so
// the row numbers always match the widget's rows when applied in order. An
// implementation may touch its widget directly.
#include <string>

class IChatMemberView {
public:
    virtual ~IChatMemberView() = default;
    // A row was appended at `row` (always the last row). name: UTF-8;
    // flag: 0 host, 1 self, 2 other guest (the row's icon index).
    virtual void OnMemberAdded(int row, const std::string &name, int flag) = 0;
    // The row `row` was removed; the rows after it move up by one.
    virtual void OnMemberRemoved(int row) = 0;
    // The row `row` now shows `name` (UTF-8); its flag stays.
    virtual void OnMemberRenamed(int row, const std::string &name) = 0;
};
