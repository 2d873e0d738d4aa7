// Template 137: rectangles in dialog units, labels right-aligned, value fields sunken.
#include "ui/SetupDlgLayout.h"

#include <array>
#include <utility>

#include "ui/PortSettings.h"

namespace {

using K = DialogItemKind;

// The register rows start at y 35 (field) and 37 (label) and go down 12 units per row.
constexpr int RowY(int row) {
    return 35 + 12 * row;
}

constexpr std::array<DialogItem, 44> kSetupItems = {{
    {0, K::GroupBox, "QD7 Status", 4, 1, 166, 172},
    {0, K::RightText, "Addr:", 12, 17, 23, 8},
    {kIdcSetupAddress, K::ValueField, "01", 37, 15, 49, 12},
    {0, K::RightText, "Bank:", 90, 17, 22, 8},
    {kIdcSetupBank, K::ValueField, "0", 115, 15, 49, 12},
    {0, K::RightText, "Process value(P0) :", 10, RowY(0) + 2, 95, 8},
    {kIdcSetupP0, K::ValueField, "P0", 108, RowY(0), 56, 11},
    {0, K::RightText, "Comparative value HH(C0) :", 10, RowY(1) + 2, 95, 8},
    {kIdcSetupC0, K::ValueField, "C0", 108, RowY(1), 56, 11},
    {0, K::RightText, "Comparative value H(C1) :", 10, RowY(2) + 2, 95, 8},
    {kIdcSetupC0 + 1, K::ValueField, "C1", 108, RowY(2), 56, 11},
    {0, K::RightText, "Comparative value L(C2) :", 10, RowY(3) + 2, 95, 8},
    {kIdcSetupC0 + 2, K::ValueField, "C2", 108, RowY(3), 56, 11},
    {0, K::RightText, "Comparative value LL(C3) :", 10, RowY(4) + 2, 95, 8},
    {kIdcSetupC0 + 3, K::ValueField, "C3", 108, RowY(4), 56, 11},
    {0, K::RightText, "Peak value max.(K0) :", 10, RowY(5) + 2, 95, 8},
    {kIdcSetupC0 + 4, K::ValueField, "K0", 108, RowY(5), 56, 11},
    {0, K::RightText, "Peak value min.(K1) :", 10, RowY(6) + 2, 95, 8},
    {kIdcSetupC0 + 5, K::ValueField, "K1", 108, RowY(6), 56, 11},
    {0, K::RightText, "Prescaling value X.Ain(X0) :", 10, RowY(7) + 2, 95, 8},
    {kIdcSetupX0, K::ValueField, "X0", 108, RowY(7), 56, 11},
    {0, K::RightText, "Prescaling value X.Bin(X1) :", 10, RowY(8) + 2, 95, 8},
    {kIdcSetupX0 + 1, K::ValueField, "X1", 108, RowY(8), 56, 11},
    {0, K::RightText, "Prescaling value Y.Ain(Y0) :", 10, RowY(9) + 2, 95, 8},
    {kIdcSetupX0 + 2, K::ValueField, "Y0", 108, RowY(9), 56, 11},
    {0, K::RightText, "Prescaling value Y.Bin(Y1) :", 10, RowY(10) + 2, 95, 8},
    {kIdcSetupX0 + 3, K::ValueField, "Y1", 108, RowY(10), 56, 11},
    {0, K::GroupBox, "RS232C", 175, 1, 88, 85},
    {0, K::RightText, "Port :", 183, 17, 26, 8},
    {kIdcSetupPort, K::DropList, "", 211, 13, 48, 152},
    {0, K::RightText, "Speed :", 183, 31, 26, 8},
    {kIdcSetupSpeed, K::DropList, "", 211, 27, 48, 203},
    {0, K::RightText, "Parity :", 183, 43, 26, 8},
    {kIdcSetupParity, K::DropList, "", 211, 41, 48, 161},
    {0, K::RightText, "Data :", 183, 57, 26, 8},
    {kIdcSetupDataBits, K::DropList, "", 211, 55, 48, 161},
    {0, K::RightText, "Stop :", 183, 71, 26, 8},
    {kIdcSetupStopBits, K::DropList, "", 211, 69, 48, 161},
    // Below the "RS232C" box.
    {0, K::RightText, "Unit :", 183, 94, 26, 8},
    {kIdcSetupUnit, K::Edit, "", 211, 91, 48, 13},
    {kIdcSetupReload, K::PushButton, "Reload", 197, 116, 50, 14},
    {kIdOk, K::DefPushButton, "OK", 197, 137, 50, 14},
    {kIdCancel, K::PushButton, "Cancel", 197, 153, 50, 14},
    {kIdcSetupProgress, K::Progress, "", 4, 175, 258, 14},
}};

template <size_t N>
std::vector<DropListItem> ChoiceItems(const std::array<LineChoice, N>& choices) {
    std::vector<DropListItem> items;
    for (size_t i = 0; i < N; ++i) {
        items.push_back({QString::fromLatin1(choices[i].pszText), static_cast<int32_t>(i)});
    }
    return items;
}

} // namespace

std::span<const DialogItem> SetupDialogLayout() {
    return kSetupItems;
}

std::vector<DropListData> SetupDialogListData() {
    std::vector<DropListItem> ports;
    for (int32_t i = 0; i < kPortCount; ++i) {
        ports.push_back({QStringLiteral("COM%1").arg(i + 1), i});
    }
    std::vector<DropListItem> speeds;
    for (size_t i = 0; i < kBaudTable.size(); ++i) {
        speeds.push_back({QString::number(kBaudTable[i]), static_cast<int32_t>(i)});
    }
    return {
        {kIdcSetupPort, std::move(ports)},
        {kIdcSetupSpeed, std::move(speeds)},
        {kIdcSetupParity, ChoiceItems(kParityChoices)},
        {kIdcSetupDataBits, ChoiceItems(kDataBitsChoices)},
        {kIdcSetupStopBits, ChoiceItems(kStopBitsChoices)},
    };
}
