#pragma once
// A progress bar of the download form, drawn by the form over its skin
// element ("Download_Prg", "Install_Prg") from the skin's images "01_bar_e"
// (the whole bar, empty) and "01_bar_f" (the done part, filled), with the
// percentage "%d%%" in the skin's font. It repaints only when the whole
// percentage changes.
#include <QWidget>

#include <cstdint>

class ISkinControl;

class CSkinProgressBar : public QWidget {
    Q_OBJECT
public:
    static constexpr char kFilledImage[] = "01_bar_f";
    static constexpr char kEmptyImage[] = "01_bar_e";

    CSkinProgressBar(ISkinControl *skin, QWidget *parent);

    // `done` of `total`: a total of -1 (unknown) shows a full bar, 0 an
    // empty one. Returns whether the percentage changed (and a repaint is due).
    bool SetPos(std::int64_t done, std::int64_t total);
    int Percent() const { return m_percent; }
    // Paints so far (tests count them).
    int PaintCount() const { return m_paintCount; }

    static int PercentOf(std::int64_t done, std::int64_t total);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ISkinControl *m_skin;
    int m_percent = 0;
    int m_paintCount = 0;
};
