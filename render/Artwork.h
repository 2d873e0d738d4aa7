#pragma once

#include <QIcon>
#include <QImage>
#include <QString>
#include <QStringList>

// The artwork is PNG and is read by the PNG reader built into Qt. An image reader left to work
// out the format itself loads every image-format plugin installed (GIF, ICO, JPEG with its
// library, ...) to ask each whether it knows the file, before it ever looks at the built-in one:
// time and memory at start-up for pictures we know to be PNG.

// The picture at `path` (":/res/135_panel.png"); null when it cannot be read.
QImage LoadArtwork(const QString& path);

// Starts reading `paths` on a thread of its own, so that a window that shows them soon finds
// them read while it was busy with the rest of its making, and with a `panelRatio` above 0,
// drawing the front panel for that ratio. LoadArtwork and DrawFrontPanel hand each of them out
// once, waiting for the thread when it is not done yet; a second start adds to the first.
void LoadArtworkAhead(const QStringList& paths, double panelRatio = 0.0);

// The front panel (resource 135) drawn for `ratio`, for the ratios the resources hold no picture
// for. Drawing it takes a few milliseconds.
QImage DrawFrontPanel(double ratio);

// The icon resource with its pictures for pixel ratios 1 and 2.
QIcon LoadArtworkIcon(const QString& resource);
