#include "ui/MainWindowLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <array>

#include "render/Artwork.h"
#include "render/Resources.h"
#include "ui/DialogLayout.h"
#include "ui/PictureCtrl.h"

namespace {

using K = DialogItemKind;

// In template order, which is also the keyboard focus order. The picture takes the size of its
// image (264 x 104 pixels); its rectangle here only places it.
constexpr std::array<DialogItem, 12> kMainLayout = {{
    {kIdcPicture, K::Bitmap, kPanelResource, 0, 0, 0, 0},
    {0, K::Bitmap, kDecorationResource, 152, 0, 54, 20},
    {kIdcAddressList, K::DropList, "", 152, 22, 54, 148},
    {kIdcBank1, K::AutoCheckBox, "Bank 1", 154, 37, 46, 10},
    {kIdcPnp, K::AutoCheckBox, "PNP", 154, 47, 46, 10},
    {kIdcAutoscan, K::AutoCheckBox, "Autoscan", 154, 57, 46, 10},
    {0, K::SunkenText, "STX", 1, 70, 16, 12},
    {kIdcTextEdit, K::Edit, "", 17, 70, 98, 12},
    {kIdcCrcLabel, K::SunkenText, "ETX,CRC", 116, 70, 35, 12},
    {kIdcSend, K::PushButton, "Send", 152, 68, 54, 14},
    {kIdcResponseEdit, K::ReadOnlyEdit, "", 0, 82, 206, 12},
    {kIdcProgress, K::HiddenProgress, "", 1, 83, 205, 10},
}};

constexpr int kDialogWidth = 207;
constexpr int kDialogHeight = 93;

template <typename T> T* Bind(const QWidget* pDialog, int id) {
    return qobject_cast<T*>(FindDialogItem(pDialog, id));
}

void CreateControls(QDialog* pDialog, const CDialogUnits& units) {
    const CDialogFontScope dialogFont;
    for (const DialogItem& item : kMainLayout) {
        if (item.nId == kIdcPicture) {
            auto* pPicture = new CPictureCtrl(QString::fromUtf8(item.pszCaption), pDialog);
            pPicture->setProperty("dialogId", item.nId);
            pPicture->move(units.ToPixelsX(item.x), units.ToPixelsY(item.y));
            continue;
        }
        CreateDialogItem(pDialog, item, units);
    }
}

} // namespace

void LoadMainWindowArtworkAhead(double devicePixelRatio) {
    QStringList paths;
    double panelRatio = 0.0;
    for (const DialogItem& item : kMainLayout) {
        if (item.kind != K::Bitmap) {
            continue;
        }
        if (item.nId != kIdcPicture) {
            paths << ArtworkPath(item.pszCaption, ArtworkScale(devicePixelRatio));
        } else if (const int scale = ArtworkScaleExactly(devicePixelRatio); scale > 0) {
            paths << ArtworkPath(item.pszCaption, scale);
        } else {
            panelRatio = devicePixelRatio; // no picture of the panel for it: drawn for it
        }
    }
    paths << ArtworkPath(kIconResource, 1) << ArtworkPath(kIconResource, 2);
    LoadArtworkAhead(paths, panelRatio);
}

MainWindowControls CreateMainWindowControls(QDialog* pDialog) {
    pDialog->setFont(DialogFont());
    const CDialogUnits units = CDialogUnits::FromFont(pDialog->font());
    CreateControls(pDialog, units);
    pDialog->setFixedSize(units.ToPixelsX(kDialogWidth), units.ToPixelsY(kDialogHeight));

    // Bound in the order the roles are declared.
    MainWindowControls controls;
    controls.pProgress = Bind<QProgressBar>(pDialog, kIdcProgress);
    controls.pCrcLabel = Bind<QLabel>(pDialog, kIdcCrcLabel);
    controls.pPicture = Bind<CPictureCtrl>(pDialog, kIdcPicture);
    controls.pResponseEdit = Bind<QLineEdit>(pDialog, kIdcResponseEdit);
    controls.pTextEdit = Bind<QLineEdit>(pDialog, kIdcTextEdit);
    controls.pAddressList = Bind<QComboBox>(pDialog, kIdcAddressList);
    controls.pBank1 = Bind<QCheckBox>(pDialog, kIdcBank1);
    controls.pPnp = Bind<QCheckBox>(pDialog, kIdcPnp);
    controls.pAutoscan = Bind<QCheckBox>(pDialog, kIdcAutoscan);
    controls.pSend = Bind<QPushButton>(pDialog, kIdcSend);
    return controls;
}
