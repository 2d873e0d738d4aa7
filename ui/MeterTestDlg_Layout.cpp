// The main window's layout (template 102) and the binding of its controls to members by role.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <array>

#include "render/Resources.h"
#include "ui/DialogLayout.h"
#include "ui/PictureCtrl.h"

namespace {

// Control ids of template 102.
constexpr int kIdcSend = 1001;
constexpr int kIdcTextEdit = 1002;
constexpr int kIdcResponseEdit = 1003;
constexpr int kIdcPicture = 1004;
constexpr int kIdcAutoscan = 1006;
constexpr int kIdcPnp = 1007;
constexpr int kIdcAddressList = 1008;
constexpr int kIdcBank1 = 1018;
constexpr int kIdcCrcLabel = 1033;
constexpr int kIdcProgress = 1035;

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

} // namespace

void CMeterTestDlg::CreateControls() {
    setFont(DialogFont());
    const CDialogUnits units = CDialogUnits::FromFont(font());
    for (const DialogItem& item : kMainLayout) {
        if (item.nId == kIdcPicture) {
            auto* pPicture = new CPictureCtrl(QString::fromUtf8(item.pszCaption), this);
            pPicture->setProperty("dialogId", item.nId);
            pPicture->move(units.ToPixelsX(item.x), units.ToPixelsY(item.y));
            continue;
        }
        CreateDialogItem(this, item, units);
    }
    setFixedSize(units.ToPixelsX(kDialogWidth), units.ToPixelsY(kDialogHeight));

    // Bound in the order the members are declared.
    m_pProgress = Bind<QProgressBar>(this, kIdcProgress);
    m_pCrcLabel = Bind<QLabel>(this, kIdcCrcLabel);
    m_pPicture = Bind<CPictureCtrl>(this, kIdcPicture);
    m_pResponseEdit = Bind<QLineEdit>(this, kIdcResponseEdit);
    m_pTextEdit = Bind<QLineEdit>(this, kIdcTextEdit);
    m_pAddressList = Bind<QComboBox>(this, kIdcAddressList);
    m_pBank1 = Bind<QCheckBox>(this, kIdcBank1);
    m_pPnp = Bind<QCheckBox>(this, kIdcPnp);
    m_pAutoscan = Bind<QCheckBox>(this, kIdcAutoscan);
    m_pSendButton = Bind<QPushButton>(this, kIdcSend);
}
