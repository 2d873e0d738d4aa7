#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The artwork is PNG and is read by the PNG reader built into Qt. An image reader left to work
// out the format itself loads every image-format plugin installed (GIF, ICO, JPEG with its
// library, ...) to ask each whether it knows the file, before it ever looks at the built-in one:
// time and memory at start-up for pictures we know to be PNG.

// The picture at `path` (":/res/135_panel.png"); null when it cannot be read.
QImage LoadArtwork(const QString& path);

// The icon resource with its pictures for pixel ratios 1 and 2.
QIcon LoadArtworkIcon(const QString& resource);
