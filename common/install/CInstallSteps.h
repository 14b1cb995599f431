#pragma once
// The "Install_Prg" count of one installation: the total the update decision
// computed before the form opened and the steps finished so far. The install
// worker creates one per run and hands it to every stage; the downloader
// advances it once per finished file, the later stages once per finished
// item. Used on the worker's thread only.
#include "IInstallProgress.h"

class CInstallSteps {
public:
    CInstallSteps(IInstallProgress &progress, int total)
        : m_progress(progress), m_total(total < 0 ? 0 : total)
    {
    }

    IInstallProgress &Progress() const { return m_progress; }
    int Done() const { return m_done; }
    int Total() const { return m_total; }

    // One more step finished (never beyond the total).
    void Advance()
    {
        if (m_done < m_total)
            ++m_done;
        m_progress.SetInstallProgress(m_done, m_total);
    }
    // The whole installation finished: the bar shows its end.
    void Finish()
    {
        m_done = m_total;
        m_progress.SetInstallProgress(m_done, m_total);
    }

private:
    IInstallProgress &m_progress;
    int m_total;
    int m_done = 0;
};
