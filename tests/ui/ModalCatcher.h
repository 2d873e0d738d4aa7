#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

// Accepts every modal window that opens while it lives (a message box, the about box) and records
// what it showed. It polls from a timer, so it also runs inside the modal loop of that window.
class CModalCatcher : public QObject {
    Q_OBJECT

public:
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

    CModalCatcher();
    std::vector<Seen> m_vecSeen;
    // Runs while a modal window is up, before it is closed.
    std::function<void()> m_fnWhileOpen;

private:
    void Poll();
    QTimer m_timer;
};
