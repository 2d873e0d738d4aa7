#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

// Watches the modal windows that open while it lives, from a timer that also runs inside their
// modal loops. Accepting, it records what each one showed (a message box, the about box) and closes
// it as a user would. Strict, a message box is a test failure at once, with its text and details,
// and is closed so that the test goes on: a box nobody expected (a port that another program held
// for a moment at start-up) must fail the test, never hang it in the box's loop. Other modal
// windows (the setup dialog) are the test's own to close; one still open after a minute fails the
// test too and is closed.
class QDialog;

class CModalCatcher : public QObject {
    Q_OBJECT

public:
    enum class Mode { Accept, FailOnMessageBox };

    struct Seen {
        QString className;
        QString title;
        QString text;         // a message box's text
        QString detailedText; // and the text behind its "Show Details..."
        int icon = 0;         // a message box's icon (QMessageBox::Icon)
        QStringList buttons;  // texts of its push buttons
        QStringList labels;   // texts of its labels
        QSize size;
        QRect frame; // where it opened, window frame included
    };

    explicit CModalCatcher(Mode mode = Mode::Accept);
    void SetMode(Mode mode) { m_mode = mode; }

    std::vector<Seen> m_vecSeen;
    // Runs while a modal window is up, before it is closed.
    std::function<void()> m_fnWhileOpen;

private:
    void Poll();
    // Strict: a window the test left open for longer than a minute is closed, and the test fails.
    void WatchLeftOpen(QDialog* pDialog);

    Mode m_mode;
    QTimer m_timer;
    QPointer<QDialog> m_pWatched;
    QElapsedTimer m_watchedFor;
};
