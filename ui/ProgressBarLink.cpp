#include "ui/ProgressBarLink.h"

#include <QProgressBar>

#include <algorithm>

void CProgressBarLink::SetRange(int low, int high) {
    m_pBar->setRange(low, high);
}

void CProgressBarLink::SetPosition(int position) {
    m_pBar->setValue(std::clamp(position, m_pBar->minimum(), m_pBar->maximum()));
    m_pBar->repaint();
}
