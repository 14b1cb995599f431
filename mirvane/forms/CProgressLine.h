#pragma once
// The download form's progress as lines of text, for runs without a display
// (CI, a terminal): status, file name, percentage of the current file and
// speed, one line at most every `intervalMs` while they change.
#include <QString>

#include <cstdint>
#include <optional>

class CProgressLine {
public:
    explicit CProgressLine(std::int64_t intervalMs = 500) : m_intervalMs(intervalMs) {}

    void SetStatus(const QString &status) { Change(m_status, status); }
    void SetFileName(const QString &name) { Change(m_file, name); }
    void SetSpeed(const QString &speed) { Change(m_speed, speed); }
    void SetPercent(int percent);

    // The line to print at `nowMs` (a steady clock): something changed since
    // the last line and the last line is at least `intervalMs` old.
    std::optional<QString> Take(std::int64_t nowMs);
    // The state when it ends: the line when something changed since the
    // last one, whatever the time.
    std::optional<QString> Flush();

    // "STATUS  FILE  PERCENT%  SPEED", leaving out what is empty.
    QString Line() const;

private:
    void Change(QString &field, const QString &value);

    std::int64_t m_intervalMs;
    std::optional<std::int64_t> m_lastMs;
    bool m_changed = false;
    QString m_status;
    QString m_file;
    QString m_speed;
    int m_percent = -1;
};
