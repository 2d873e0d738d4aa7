#pragma once

#include <QString>

#include <span>
#include <vector>

#include "ui/DialogLayout.h"

// Template 137, the setup dialog: its controls in template order (which is the focus order), the
// items of its five drop-down lists, and its size in dialog units.

inline constexpr int kSetupDialogWidth = 267;
inline constexpr int kSetupDialogHeight = 189;
inline constexpr const char* kSetupDialogCaption = "Setup QD7 & RS232C/RS485";

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdcSetupPort = 1013;
inline constexpr int kIdcSetupSpeed = 1014;
inline constexpr int kIdcSetupAddress = 1019;
inline constexpr int kIdcSetupP0 = 1020;
inline constexpr int kIdcSetupC0 = 1021; // C0..C3, K0, K1: 1021..1026
inline constexpr int kIdcSetupX0 = 1027; // X0, X1, Y0, Y1: 1027..1030
inline constexpr int kIdcSetupProgress = 1031;
inline constexpr int kIdcSetupReload = 1032;
inline constexpr int kIdcSetupBank = 1033;
inline constexpr int kIdcSetupUnit = 1034;
inline constexpr int kIdcSetupParity = 1067;
inline constexpr int kIdcSetupDataBits = 1068;
inline constexpr int kIdcSetupStopBits = 1069;

std::span<const DialogItem> SetupDialogLayout();

// One item of a drop-down list: the text it shows and the value it carries, its index into the
// line-setting tables of PortSettings.h.
struct DropListItem {
    QString text;
    int32_t nValue;
};

// The initialisation data of one drop-down list, unsorted, made from the line-setting tables.
struct DropListData {
    int nId;
    std::vector<DropListItem> items;
};

// In the order the lists are filled: port, speed, parity, data bits, stop bits.
std::vector<DropListData> SetupDialogListData();
