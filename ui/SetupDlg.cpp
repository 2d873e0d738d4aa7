// The setup dialog: its controls from template 137, the handler table, the exchange table between
// members and controls, the first read-out before the dialog is shown, Reload and OK.
#include "ui/SetupDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

#include "protocol/Address.h"
#include "ui/DialogLayout.h"
#include "ui/PortToolTip.h"
#include "ui/SetupDlgLayout.h"

namespace {

struct IndexLink {
    int nId;
    int32_t CSetupDlg::*pMember;
};

struct TextLink {
    int nId;
    std::string CSetupDlg::*pMember;
};

// In exchange order: the progress bar first, then the lists, then the texts.
constexpr std::array<IndexLink, 5> kIndexLinks = {{
    {kIdcSetupSpeed, &CSetupDlg::m_nSpeedIndex},
    {kIdcSetupDataBits, &CSetupDlg::m_nDataBitsIndex},
    {kIdcSetupParity, &CSetupDlg::m_nParityIndex},
    {kIdcSetupPort, &CSetupDlg::m_nPortIndex},
    {kIdcSetupStopBits, &CSetupDlg::m_nStopBitsIndex},
}};

constexpr std::array<TextLink, 14> kTextLinks = {{
    {kIdcSetupUnit, &CSetupDlg::m_strUnit},
    {kIdcSetupAddress, &CSetupDlg::m_strAddress},
    {kIdcSetupC0, &CSetupDlg::m_strC0},
    {kIdcSetupC0 + 1, &CSetupDlg::m_strC1},
    {kIdcSetupC0 + 2, &CSetupDlg::m_strC2},
    {kIdcSetupC0 + 3, &CSetupDlg::m_strC3},
    {kIdcSetupC0 + 4, &CSetupDlg::m_strK0},
    {kIdcSetupC0 + 5, &CSetupDlg::m_strK1},
    {kIdcSetupP0, &CSetupDlg::m_strP0},
    {kIdcSetupX0, &CSetupDlg::m_strX0},
    {kIdcSetupX0 + 1, &CSetupDlg::m_strX1},
    {kIdcSetupX0 + 2, &CSetupDlg::m_strY0},
    {kIdcSetupX0 + 3, &CSetupDlg::m_strY1},
    {kIdcSetupBank, &CSetupDlg::m_strBank},
}};

// The value text of each snapshot slot, by register index (P0, C0..C3, K0, K1, X0, X1, Y0, Y1).
constexpr std::array<std::string CSetupDlg::*, kRegisterCount> kValueTexts = {
    &CSetupDlg::m_strP0, &CSetupDlg::m_strC0, &CSetupDlg::m_strC1, &CSetupDlg::m_strC2,
    &CSetupDlg::m_strC3, &CSetupDlg::m_strK0, &CSetupDlg::m_strK1, &CSetupDlg::m_strX0,
    &CSetupDlg::m_strX1, &CSetupDlg::m_strY0, &CSetupDlg::m_strY1};

// Texts are 8-bit strings in the system's encoding, as the front panel draws them (a unit such
// as "°C" must reach the panel as typed).
void SetControlText(QWidget* pControl, const std::string& text) {
    const QString value = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl)) {
        pEdit->setText(value);
    } else if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
        pLabel->setText(value);
    }
}

std::string ControlText(const QWidget* pControl) {
    QString value;
    if (const auto* pEdit = qobject_cast<const QLineEdit*>(pControl)) {
        value = pEdit->text();
    } else if (const auto* pLabel = qobject_cast<const QLabel*>(pControl)) {
        value = pLabel->text();
    }
    return value.toLocal8Bit().toStdString();
}

// "%g" as the C locale writes it: six significant digits, no trailing zeros, exponent form below
// 0.0001. Qt adopts the desktop's locale at start-up, under which printf would write "12,5".
std::string ValueText(float value) {
    std::array<char, 32> text{};
    const std::to_chars_result result =
        std::to_chars(text.data(), text.data() + text.size(), static_cast<double>(value),
                      std::chars_format::general, 6);
    return result.ec == std::errc{} ? std::string(text.data(), result.ptr) : std::string();
}

} // namespace

CSetupDlg::CSetupDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
    setWindowTitle(QString::fromLatin1(kSetupDialogCaption));
    CreateControls();
    ConnectHandlers();
}

CSetupDlg::~CSetupDlg() = default;

void CSetupDlg::CreateControls() {
    setFont(DialogFont());
    const CDialogUnits units = CDialogUnits::FromFont(font());
    CreateDialogItems(this, SetupDialogLayout(), units);
    setFixedSize(units.ToPixelsX(kSetupDialogWidth), units.ToPixelsY(kSetupDialogHeight));
    // A focused push button takes the default role while it has the focus, as Enter expects.
    for (const int id : {kIdcSetupReload, kIdOk, kIdCancel}) {
        if (auto* pButton = qobject_cast<QPushButton*>(FindDialogItem(this, id))) {
            pButton->setAutoDefault(true);
        }
    }
}

void CSetupDlg::ConnectHandlers() {
    auto* pReload = qobject_cast<QPushButton*>(FindDialogItem(this, kIdcSetupReload));
    auto* pOk = qobject_cast<QPushButton*>(FindDialogItem(this, kIdOk));
    auto* pCancel = qobject_cast<QPushButton*>(FindDialogItem(this, kIdCancel));
    connect(pReload, &QPushButton::clicked, this, &CSetupDlg::OnReload);
    connect(pOk, &QPushButton::clicked, this, &CSetupDlg::accept);
    connect(pCancel, &QPushButton::clicked, this, &CSetupDlg::reject);
}

void CSetupDlg::FillDropLists() {
    for (const DropListData& list : SetupDialogListData()) {
        auto* pCombo = qobject_cast<QComboBox*>(FindDialogItem(this, list.nId));
        if (pCombo == nullptr || pCombo->count() != 0) {
            continue;
        }
        for (const DropListItem& item : list.items) {
            pCombo->addItem(item.text, item.nValue);
        }
    }
}

void CSetupDlg::SetPortToolTips() {
    auto* pPorts = qobject_cast<QComboBox*>(FindDialogItem(this, kIdcSetupPort));
    if (pPorts == nullptr) {
        return;
    }
    // Looked up afresh each time the dialog opens, so an adapter plugged in meanwhile shows.
    const SetupPortInfo port = m_pMainWnd != nullptr ? m_pMainWnd->PortInfo() : SetupPortInfo{};
    const std::vector<PortLocation> locations = LocatePorts(pPorts->count(), port.dirs);
    for (size_t i = 0; i < locations.size(); ++i) {
        const int item = static_cast<int>(i);
        QString tip = PortToolTip(item + 1, locations[i], port.dirs);
        if (item + 1 == port.nPort && port.bLost) {
            tip.prepend(LostPortLine(port.strWaitingFor));
        }
        if (item + 1 == port.nPort && !port.strUnstableName.empty()) {
            tip += UnstableNameLine(port.strUnstableName);
        }
        pPorts->setItemData(item, tip, Qt::ToolTipRole);
    }
}

bool CSetupDlg::OnInitDialog() {
    m_bInitialised = true;
    FillDropLists();
    SetPortToolTips();
    DoDataExchange(false);

    if (m_pMainWnd != nullptr) {
        // The first read-out runs before this dialog is shown, so its progress appears in the
        // main window.
        m_pMainWnd->ShowProgressWhile(
            [this](QProgressBar* pProgress) { LoadRegisters(pProgress); });
    }

    // The first control that takes the focus.
    if (QWidget* pPort = FindDialogItem(this, kIdcSetupPort)) {
        pPort->setFocus();
    }
    return true;
}

void CSetupDlg::OnReload() {
    LoadRegisters(m_pProgress);
}

void CSetupDlg::SetPortSettings(const PortSettings& settings) {
    m_nPortIndex = settings.portIndex;
    m_nSpeedIndex = settings.speedIndex;
    m_nDataBitsIndex = settings.dataBitsIndex;
    m_nParityIndex = settings.parityIndex;
    m_nStopBitsIndex = settings.stopBitsIndex;
}

PortSettings CSetupDlg::ChosenPortSettings() const {
    return {m_nPortIndex, m_nSpeedIndex, m_nDataBitsIndex, m_nParityIndex, m_nStopBitsIndex};
}

void CSetupDlg::accept() {
    DoDataExchange(true);
    QDialog::accept();
}

void CSetupDlg::setVisible(bool visible) {
    // The dialog's initialisation comes before it first shows (exec() shows it): OnInitDialog
    // runs the first read-out of a little over 8 s with its progress on the main window, and only
    // then does this dialog appear, centred on the pointer, with the registers in place.
    if (visible && !m_bInitialised) {
        OnInitDialog();
        CentreOnPointer(this);
    }
    QDialog::setVisible(visible);
}

void CSetupDlg::DoDataExchange(bool fromControls) {
    if (m_pProgress == nullptr) {
        m_pProgress = qobject_cast<QProgressBar*>(FindDialogItem(this, kIdcSetupProgress));
    }
    for (const IndexLink& link : kIndexLinks) {
        auto* pCombo = qobject_cast<QComboBox*>(FindDialogItem(this, link.nId));
        if (pCombo == nullptr) {
            continue;
        }
        // The items carry their index into the line-setting tables.
        if (fromControls) {
            const QVariant value = pCombo->currentData();
            this->*link.pMember = value.isValid() ? value.toInt() : -1;
        } else {
            // An index with no item (-1 included) leaves the list without a selection.
            pCombo->setCurrentIndex(pCombo->findData(this->*link.pMember));
        }
    }
    for (const TextLink& link : kTextLinks) {
        QWidget* pControl = FindDialogItem(this, link.nId);
        if (fromControls) {
            this->*link.pMember = ControlText(pControl);
        } else {
            SetControlText(pControl, this->*link.pMember);
        }
    }
}

void CSetupDlg::LoadRegisters(QProgressBar* pProgress) {
    if (pProgress == nullptr || m_pMainWnd == nullptr) {
        return;
    }
    RegisterSnapshot snapshot{};
    m_pMainWnd->ReadAllRegisters(&snapshot, pProgress);

    m_strAddress = FormatAddress(snapshot.address);
    for (size_t slot = 0; slot < kValueTexts.size(); ++slot) {
        this->*kValueTexts[slot] = ValueText(snapshot.values[slot]);
    }
    // Every member, not only the texts just set: unconfirmed edits of the lists and the unit go
    // back to what the dialog opened with.
    DoDataExchange(false);
}
