#include "render/LampDisplay.h"

#include "render/PanelArt.h"
#include "render/PanelLayout.h"
#include "render/Resources.h"

CLampDisplay::CLampDisplay() = default;

CLampDisplay::~CLampDisplay() {
    Detach();
}

void CLampDisplay::Attach(CPictureSurface* pSurface) {
    m_link.Attach(pSurface, SheetArt{kLampSheetResource, &DrawLampSheetPart});
}

void CLampDisplay::DrawLamp(int x, int y, LampState state) {
    const int bar = static_cast<int>(state);
    // Outside the sheet's four bars the copy would take whatever the composition image held.
    if (m_link.Surface() == nullptr || bar < 0 || bar >= kLampCount) {
        return;
    }
    const QRect bar0(0, 0, kLampBarWidth, kLampBarHeight);
    {
        CSurfaceLink::CComposer composer(m_link, QPoint(x, y));
        composer.CopyFromSheet(bar0.translated(kLampBarWidth * bar, kLampBarTop), QPoint(0, 0));
    }
    m_link.Repaint(m_link.CopyToSurface(bar0, QPoint(x, y)));
}

void CLampDisplay::Detach() {
    m_link.Detach();
}
