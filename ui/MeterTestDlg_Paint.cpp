// Painting of the main window: the value and the unit on the front panel, or the icon alone while
// the window is minimised.
#include "ui/MeterTestDlg.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

void CMeterTestDlg::DrawFrontPanel() {
    m_digitDisplay.DrawValue(kValueX, kValueY, m_szDisplayText.data());
    m_digitDisplay.DrawUnit(kUnitX, kUnitY, m_strUnit.c_str());
}

void CMeterTestDlg::paintEvent(QPaintEvent* pEvent) {
    if (isMinimized()) {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
        const int x = (width() - iconSize + 1) / 2;
        const int y = (height() - iconSize + 1) / 2;
        m_hIcon.paint(&painter, x, y, iconSize, iconSize);
        return;
    }
    DrawFrontPanel();
    QDialog::paintEvent(pEvent);
}
