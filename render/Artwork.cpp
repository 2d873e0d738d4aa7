#include "render/Artwork.h"

#include <QHash>
#include <QImageReader>
#include <QPixmap>
#include <QThread>

#include <memory>
#include <optional>

#include "render/Resources.h"

namespace {

QImage ReadPng(const QString& path) {
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// Pictures read on a thread of their own, each handed out once. Only the thread that started
// them asks for them; the reading thread's results are looked at after it has ended.
class CArtworkAhead {
public:
    CArtworkAhead() = default;
    CArtworkAhead(const CArtworkAhead&) = delete;
    CArtworkAhead& operator=(const CArtworkAhead&) = delete;
    ~CArtworkAhead() { Wait(); }

    void Start(const QStringList& paths) {
        Wait(); // what an earlier start read stays to be taken
        m_pending += paths;
        m_pThread.reset(QThread::create([this, paths] {
            for (const QString& path : paths) {
                m_read.insert(path, ReadPng(path));
            }
        }));
        m_pThread->start();
    }

    std::optional<QImage> Take(const QString& path) {
        if (!m_pending.removeOne(path)) {
            return std::nullopt;
        }
        Wait();
        return m_read.take(path);
    }

private:
    void Wait() {
        if (m_pThread) {
            m_pThread->wait();
        }
    }

    QStringList m_pending;
    QHash<QString, QImage> m_read;
    std::unique_ptr<QThread> m_pThread;
};

CArtworkAhead& Ahead() {
    static CArtworkAhead ahead;
    return ahead;
}

} // namespace

void LoadArtworkAhead(const QStringList& paths) {
    Ahead().Start(paths);
}

QImage LoadArtwork(const QString& path) {
    if (std::optional<QImage> image = Ahead().Take(path)) {
        return *image;
    }
    return ReadPng(path);
}

QIcon LoadArtworkIcon(const QString& resource) {
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap = QPixmap::fromImage(LoadArtwork(ArtworkPath(resource, scale)));
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(scale);
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}
