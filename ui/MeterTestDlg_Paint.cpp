// Painting of the main window: the value and the unit on the front panel whenever the window
// system repaints it, or the icon alone while the window is minimised.
#include "ui/MeterTestDlg.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include "render/PanelLayout.h"

void CMeterTestDlg::DrawFrontPanel() {
    m_digitDisplay.DrawValue(kValueOrigin.x(), kValueOrigin.y(), m_szDisplayText.data());
    m_digitDisplay.DrawUnit(kUnitOrigin.x(), kUnitOrigin.y(), m_strUnit.c_str());
}

void CMeterTestDlg::OnPaint() {
    // The picture has just put its printed panel back: the lamps stay as printed until the next
    // exchange draws them.
    if (!isMinimized()) {
        DrawFrontPanel();
    }
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
    // The front panel is the picture's to repaint, and it has the value and the unit drawn on it
    // as it does (OnPaint); the rest of the window is the dialog's.
    QDialog::paintEvent(pEvent);
}
