#pragma once

#include "render/PictureSurface.h"
#include "render/SurfaceLink.h"

// The bar of the lamp sheet that a lamp shows.
enum LampState { LampRed = 0, LampGreen = 1, LampDarkGreen = 2, LampYellow = 3 };

// Draws the two activity lamps of the front panel: 24 x 6 bars copied from the lamp sheet.
class CLampDisplay {
public:
    CLampDisplay();
    virtual ~CLampDisplay();
    CLampDisplay(const CLampDisplay&) = delete;
    CLampDisplay& operator=(const CLampDisplay&) = delete;

    // Binds to the picture and loads the lamp sheet; made once, before any drawing.
    void Attach(CPictureSurface* pSurface);
    // Draws the bar of `state` with its top left corner at (x, y). A state without a bar draws
    // nothing.
    void DrawLamp(int x, int y, LampState state);
    void Detach();

private:
    CSurfaceLink m_link;
};
