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

constexpr int kIdcPicture = 1004;

using K = DialogItemKind;

// In template order, which is also the keyboard focus order. The picture takes the size of its
// image (264 x 104 pixels); its rectangle here only places it.
constexpr std::array<DialogItem, 12> kMainLayout = {{
    {kIdcPicture, K::Bitmap, kPanelResource, 0, 0, 0, 0},
    {0, K::Bitmap, kDecorationResource, 152, 0, 54, 20},
    {1008, K::DropList, "", 152, 22, 54, 148},
    {1018, K::AutoCheckBox, "Bank 1", 154, 37, 46, 10},
    {1007, K::AutoCheckBox, "PNP", 154, 47, 46, 10},
    {1006, K::AutoCheckBox, "Autoscan", 154, 57, 46, 10},
    {0, K::SunkenText, "STX", 1, 70, 16, 12},
    {1002, K::Edit, "", 17, 70, 98, 12},
    {1033, K::SunkenText, "ETX,CRC", 116, 70, 35, 12},
    {1001, K::PushButton, "Send", 152, 68, 54, 14},
    {1003, K::ReadOnlyEdit, "", 0, 82, 206, 12},
    {1035, K::HiddenProgress, "", 1, 83, 205, 10},
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
    m_pProgress = Bind<QProgressBar>(this, 1035);
    m_pCrcLabel = Bind<QLabel>(this, 1033);
    m_pPicture = Bind<CPictureCtrl>(this, kIdcPicture);
    m_pResponseEdit = Bind<QLineEdit>(this, 1003);
    m_pTextEdit = Bind<QLineEdit>(this, 1002);
    m_pAddressList = Bind<QComboBox>(this, 1008);
    m_pBank1 = Bind<QCheckBox>(this, 1018);
    m_pPnp = Bind<QCheckBox>(this, 1007);
    m_pAutoscan = Bind<QCheckBox>(this, 1006);
    m_pSendButton = Bind<QPushButton>(this, 1001);
}
