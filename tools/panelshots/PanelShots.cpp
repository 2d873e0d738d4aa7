// qd7-panel-shots: pictures of the front panel as the program draws it, made with the real
// renderers on the real artwork, without a window.
//   qd7-panel-shots <folder> [--scale N]
// writes panel_start.png ("    0" with "Sec", as at start), panel_value.png ("-12.34"),
// panel_lamps_<state>.png (both lamps in each state) and panel_overview.png (all of them), each
// enlarged N times (default 1) with square pixels.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "render/DigitDisplay.h"
#include "render/LampDisplay.h"
#include "render/PanelLayout.h"
#include "render/Resources.h"

namespace {

struct Shot {
    const char* fileName;
    const char* value;
    LampState sendLamp;
    LampState receiveLamp;
};

constexpr std::array kShots = {
    Shot{"panel_start.png", "    0", LampDarkGreen, LampDarkGreen},
    Shot{"panel_value.png", "-12.34", LampDarkGreen, LampDarkGreen},
    Shot{"panel_lamps_red.png", "-12.34", LampRed, LampRed},
    Shot{"panel_lamps_green.png", "-12.34", LampGreen, LampGreen},
    Shot{"panel_lamps_darkgreen.png", "-12.34", LampDarkGreen, LampDarkGreen},
    Shot{"panel_lamps_yellow.png", "-12.34", LampYellow, LampYellow},
};

// The picture as the main window draws it: value, unit, then the lamps.
QImage Draw(const Shot& shot) {
    CPictureSurface surface;
    surface.panel =
        LoadSurfacePicture(QString::fromLatin1(kPanelResource), 1,
                           qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY()));
    surface.image = surface.panel;
    CDigitDisplay digits;
    digits.Attach(&surface);
    digits.m_nColorRow = 1;
    digits.DrawValue(kValueOrigin.x(), kValueOrigin.y(), shot.value);
    digits.DrawUnit(kUnitOrigin.x(), kUnitOrigin.y(), "Sec");
    CLampDisplay lamps;
    lamps.Attach(&surface);
    lamps.DrawLamp(kSendLampOrigin.x(), kSendLampOrigin.y(), shot.sendLamp);
    lamps.DrawLamp(kReceiveLampOrigin.x(), kReceiveLampOrigin.y(), shot.receiveLamp);
    return surface.image;
}

QImage Overview(const std::vector<QImage>& shots) {
    constexpr int kGap = 8;
    const QSize one = shots.front().size();
    QImage sheet(one.width() + 2 * kGap,
                 static_cast<int>(shots.size()) * (one.height() + kGap) + kGap,
                 QImage::Format_RGB32);
    sheet.fill(QColor(240, 240, 240));
    QPainter painter(&sheet);
    for (size_t i = 0; i < shots.size(); ++i) {
        painter.drawImage(kGap, kGap + static_cast<int>(i) * (one.height() + kGap), shots[i]);
    }
    return sheet;
}

bool Save(const QImage& image, const QDir& folder, const char* fileName, int scale) {
    const QString path = folder.filePath(QString::fromLatin1(fileName));
    const QImage out = scale == 1 ? image : image.scaled(image.size() * scale);
    if (!out.save(path, "PNG")) {
        std::fprintf(stderr, "qd7-panel-shots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int scale = 1;
    if (argc == 4 && std::strcmp(argv[2], "--scale") == 0) {
        scale = std::atoi(argv[3]);
    }
    if ((argc != 2 && argc != 4) || scale < 1 || scale > 16) {
        std::fprintf(stderr, "usage: qd7-panel-shots <folder> [--scale 1..16]\n");
        return 2;
    }
    // No window is shown; the platform is only needed for the unit text's font.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "qd7-panel-shots: cannot create %s\n", argv[1]);
        return 1;
    }
    std::vector<QImage> images;
    for (const Shot& shot : kShots) {
        images.push_back(Draw(shot));
        if (!Save(images.back(), folder, shot.fileName, scale)) {
            return 1;
        }
    }
    return Save(Overview(images), folder, "panel_overview.png", scale) ? 0 : 1;
}
