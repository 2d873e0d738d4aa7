// The setup dialog's data: one exchange table between members and controls, and the read-out
// that fills the value texts.
#include "ui/SetupDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <array>
#include <charconv>
#include <cstdio>

#include "ui/DialogLayout.h"
#include "ui/MeterTestDlg.h"
#include "ui/RegisterSnapshot.h"
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

    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%02d", static_cast<int>(snapshot.address));
    m_strAddress = text.data();
    for (size_t slot = 0; slot < kValueTexts.size(); ++slot) {
        this->*kValueTexts[slot] = ValueText(snapshot.values[slot]);
    }
    // Every member, not only the texts just set: unconfirmed edits of the lists and the unit go
    // back to what the dialog opened with.
    DoDataExchange(false);
}
