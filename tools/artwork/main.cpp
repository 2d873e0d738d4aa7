// qd7-artwork: draws the program's pictures.
//   qd7-artwork <folder>          writes every PNG into <folder> (res/ of the source tree)
//   qd7-artwork --check <folder>  exits 1 unless the PNGs in <folder> hold exactly what the
//                                 generator draws now
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cstdio>
#include <cstring>

#include "tools/artwork/Artwork.h"

namespace {

int Write(const QDir& folder) {
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "qd7-artwork: cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    for (const ArtworkFile& file : MakeAllArtwork()) {
        const QString path = folder.filePath(file.fileName);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.image.save(path, "PNG")) {
            std::fprintf(stderr, "qd7-artwork: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}

int Check(const QDir& folder) {
    int stale = 0;
    for (const ArtworkFile& file : MakeAllArtwork()) {
        const QString path = folder.filePath(file.fileName);
        const QImage stored(path);
        // Compare pixels, not bytes: the PNG encoder may change while the picture does not.
        const QImage::Format format = file.image.format();
        if (stored.isNull() || stored.convertToFormat(format) != file.image) {
            std::fprintf(stderr, "qd7-artwork: %s differs from what the generator draws\n",
                         qPrintable(path));
            ++stale;
        }
    }
    return stale == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--check") != 0) {
        return Write(QDir(QString::fromLocal8Bit(argv[1])));
    }
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
        return Check(QDir(QString::fromLocal8Bit(argv[2])));
    }
    std::fprintf(stderr, "usage: qd7-artwork <folder> | qd7-artwork --check <folder>\n");
    return 2;
}
