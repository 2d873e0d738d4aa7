#include "app/AboutDlg.h"

#include <QPushButton>

#include <array>

#include "render/Resources.h"
#include "ui/DialogLayout.h"

namespace {

using K = DialogItemKind;

// Template 100, in dialog units.
constexpr std::array<DialogItem, 4> kAboutLayout = {{
    {0, K::Icon, kIconResource, 11, 17, 20, 20},
    {0, K::TextNoPrefix, "QD7Series 버전 1.0", 40, 10, 119, 8},
    {0, K::Text, "QD7 RS485 시험 프로그램", 40, 25, 119, 8},
    {1, K::DefPushButton, "확인", 178, 7, 50, 14},
}};

constexpr int kDialogWidth = 235;
constexpr int kDialogHeight = 55;

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QString::fromUtf8("QD7Series 정보"));
    setFont(DialogFont());
    const CDialogUnits units = CDialogUnits::FromFont(font());
    CreateDialogItems(this, kAboutLayout, units);
    setFixedSize(units.ToPixelsX(kDialogWidth), units.ToPixelsY(kDialogHeight));

    if (auto* pOk = qobject_cast<QPushButton*>(FindDialogItem(this, 1))) {
        connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
        pOk->setFocus();
    }
}
