#include "render/Artwork.h"

#include <QHash>
#include <QImageReader>
#include <QPixmap>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "render/PanelArt.h"
#include "render/Resources.h"

namespace {

QImage ReadPng(const QString& path) {
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// The name under which the panel drawn for `ratio` waits to be taken.
QString PanelKey(double ratio) {
    return QStringLiteral("panel@%1").arg(ratio, 0, 'g', 17);
}

// Pictures read or drawn on a thread of their own, each handed out once by its path or key. Only
// the thread that started them asks for them; the other thread's results are looked at after it
// has ended.
class CArtworkAhead {
public:
    using Job = std::pair<QString, std::function<QImage()>>;

    CArtworkAhead() = default;
    CArtworkAhead(const CArtworkAhead&) = delete;
    CArtworkAhead& operator=(const CArtworkAhead&) = delete;
    ~CArtworkAhead() { Wait(); }

    void Start(const QList<Job>& jobs) {
        Wait(); // what an earlier start made stays to be taken
        for (const Job& job : jobs) {
            m_pending += job.first;
        }
        m_pThread.reset(QThread::create([this, jobs] {
            for (const Job& job : jobs) {
                m_made.insert(job.first, job.second());
            }
        }));
        m_pThread->start();
    }

    std::optional<QImage> Take(const QString& key) {
        if (!m_pending.removeOne(key)) {
            return std::nullopt;
        }
        Wait();
        return m_made.take(key);
    }

private:
    void Wait() {
        if (m_pThread) {
            m_pThread->wait();
        }
    }

    QStringList m_pending;
    QHash<QString, QImage> m_made;
    std::unique_ptr<QThread> m_pThread;
};

CArtworkAhead& Ahead() {
    static CArtworkAhead ahead;
    return ahead;
}

} // namespace

void LoadArtworkAhead(const QStringList& paths, double panelRatio) {
    QList<CArtworkAhead::Job> jobs;
    for (const QString& path : paths) {
        jobs.append({path, [path] { return ReadPng(path); }});
    }
    if (panelRatio > 0.0) {
        jobs.append({PanelKey(panelRatio), [panelRatio] { return MakeFrontPanel(panelRatio); }});
    }
    Ahead().Start(jobs);
}

QImage DrawFrontPanel(double ratio) {
    if (std::optional<QImage> image = Ahead().Take(PanelKey(ratio))) {
        return *image;
    }
    return MakeFrontPanel(ratio);
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
