// The yardstick of qd7test's start-up: the barest Qt Widgets dialog there is, one label, built
// with the same Qt and flags. startup_bench sets qd7test's time to its first mapped window beside
// this program's.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    auto* pLayout = new QVBoxLayout(&dialog); // owned by the dialog
    pLayout->addWidget(new QLabel(QStringLiteral("bare"), &dialog));
    dialog.show();
    return app.exec();
}
