#pragma once

#include <span>

#include "ui/DialogUnits.h"

class QWidget;

// One control of a dialog layout, as the layouts are drawn: id, kind, caption, and the rectangle in
// dialog units. Each dialog keeps its layout as a table of these and builds it in table order,
// which is also the order in which the keyboard focus moves.
enum class DialogItemKind {
    Bitmap,         // static picture; caption = resource path of the image
    Icon,           // static icon; caption = resource path of the icon image
    Text,           // static text, left-aligned
    TextNoPrefix,   // static text, "&" shown as is
    RightText,      // static text, right-aligned
    SunkenText,     // static text with a sunken edge
    ValueField,     // static text, right-aligned, centred vertically, sunken edge
    GroupBox,       // labelled frame around other controls
    AutoCheckBox,   // check box that toggles on click
    DropList,       // drop-down list; the height includes the opened list
    Edit,           // one-line edit field that scrolls horizontally
    ReadOnlyEdit,   // as Edit, read-only
    PushButton,     // push button
    DefPushButton,  // the dialog's default push button
    Progress,       // progress bar, visible
    HiddenProgress, // progress bar, not visible until shown
};

struct DialogItem {
    int nId; // control id; 0 for controls nothing refers to (labels, pictures)
    DialogItemKind kind;
    const char* pszCaption; // UTF-8
    int x;
    int y;
    int cx;
    int cy;
};

// Builds one control as a child of `pParent`, placed in pixels; its id is kept as the property
// "dialogId" so FindDialogItem can look it up.
QWidget* CreateDialogItem(QWidget* pParent, const DialogItem& item, const CDialogUnits& units);

// Builds every control of a layout in table order.
void CreateDialogItems(QWidget* pParent, std::span<const DialogItem> items,
                       const CDialogUnits& units);

// The control with the given id, or null.
QWidget* FindDialogItem(const QWidget* pDialog, int id);

// Places a window centred on the mouse pointer, kept on the pointer's screen, as every dialog of
// the program opens.
void CentreOnPointer(QWidget* pWindow);
