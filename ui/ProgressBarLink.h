#pragma once

#include "ui/MeterView.h"

class QProgressBar;

// A progress bar of a window as the register read-out drives it.
class CProgressBarLink final : public IReadOutProgress {
public:
    explicit CProgressBarLink(QProgressBar* pBar) : m_pBar(pBar) {}

    void SetRange(int low, int high) override;
    // Qt ignores a position outside the range, so it is held to the range (past the end shows
    // full). Painted at once: the read-out holds the thread until it ends, so a queued update
    // would only show then.
    void SetPosition(int position) override;

private:
    QProgressBar* m_pBar;
};
