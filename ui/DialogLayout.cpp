#include "ui/DialogLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QString>

#include <algorithm>

#include "render/Artwork.h"
#include "render/Resources.h"

namespace {

constexpr const char* kIdProperty = "dialogId";
constexpr int kIconSize = 32;

QLabel* CreateLabel(QWidget* pParent, const QString& text, Qt::Alignment alignment, bool sunken) {
    auto* pLabel = new QLabel(text, pParent);
    pLabel->setTextFormat(Qt::PlainText);
    pLabel->setAlignment(alignment);
    pLabel->setWordWrap(false);
    if (sunken) {
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pLabel->setLineWidth(1);
    }
    return pLabel;
}

QComboBox* CreateDropList(QWidget* pParent, const QRect& droppedRect) {
    auto* pCombo = new QComboBox(pParent);
    pCombo->setEditable(false);
    pCombo->setInsertPolicy(QComboBox::NoInsert);
    // The layout's height includes the opened list; the closed box takes one line of text.
    const QFontMetrics metrics(pCombo->font());
    const int closedHeight = metrics.height() + 8;
    const int itemHeight = std::max(1, metrics.height() + 2);
    pCombo->setMaxVisibleItems(std::max(1, (droppedRect.height() - closedHeight) / itemHeight));
    pCombo->setGeometry(droppedRect.x(), droppedRect.y(), droppedRect.width(), closedHeight);
    return pCombo;
}

QWidget* CreateWidget(QWidget* pParent, const DialogItem& item, const QRect& rect) {
    const QString caption = QString::fromUtf8(item.pszCaption != nullptr ? item.pszCaption : "");
    switch (item.kind) {
    case DialogItemKind::Bitmap: {
        auto* pLabel = new QLabel(pParent);
        // The picture drawn for the screen's pixel ratio, shown at its size in window pixels.
        const int scale = ArtworkScale(pParent->devicePixelRatioF());
        QPixmap pixmap = QPixmap::fromImage(LoadArtwork(ArtworkPath(caption, scale)));
        pixmap.setDevicePixelRatio(scale);
        pLabel->setPixmap(pixmap);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return pLabel;
    }
    case DialogItemKind::Icon: {
        auto* pLabel = new QLabel(pParent);
        // An icon shows at the system's icon size whatever the rectangle says.
        pLabel->setPixmap(LoadArtworkIcon(caption).pixmap(kIconSize, kIconSize));
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return pLabel;
    }
    case DialogItemKind::Text:
    case DialogItemKind::TextNoPrefix:
        return CreateLabel(pParent, caption, Qt::AlignLeft | Qt::AlignTop, false);
    case DialogItemKind::RightText:
        return CreateLabel(pParent, caption, Qt::AlignRight | Qt::AlignTop, false);
    case DialogItemKind::SunkenText:
        return CreateLabel(pParent, caption, Qt::AlignLeft | Qt::AlignTop, true);
    case DialogItemKind::ValueField:
        return CreateLabel(pParent, caption, Qt::AlignRight | Qt::AlignVCenter, true);
    case DialogItemKind::GroupBox:
        return new QGroupBox(caption, pParent);
    case DialogItemKind::AutoCheckBox:
        return new QCheckBox(caption, pParent);
    case DialogItemKind::DropList:
        return CreateDropList(pParent, rect);
    case DialogItemKind::Edit:
    case DialogItemKind::ReadOnlyEdit: {
        auto* pEdit = new QLineEdit(caption, pParent);
        pEdit->setReadOnly(item.kind == DialogItemKind::ReadOnlyEdit);
        return pEdit;
    }
    case DialogItemKind::PushButton:
    case DialogItemKind::DefPushButton: {
        auto* pButton = new QPushButton(caption, pParent);
        pButton->setAutoDefault(false);
        pButton->setDefault(item.kind == DialogItemKind::DefPushButton);
        return pButton;
    }
    case DialogItemKind::Progress:
    case DialogItemKind::HiddenProgress: {
        auto* pBar = new QProgressBar(pParent);
        pBar->setTextVisible(false);
        pBar->setRange(0, 100);
        pBar->setValue(0);
        return pBar;
    }
    }
    return nullptr;
}

} // namespace

QWidget* CreateDialogItem(QWidget* pParent, const DialogItem& item, const CDialogUnits& units) {
    const QRect rect = units.ToPixels(item.x, item.y, item.cx, item.cy);
    QWidget* pWidget = CreateWidget(pParent, item, rect);
    if (pWidget == nullptr) {
        return nullptr;
    }
    pWidget->setProperty(kIdProperty, item.nId);
    if (item.kind != DialogItemKind::DropList) {
        pWidget->setGeometry(rect);
    }
    if (item.kind == DialogItemKind::Bitmap || item.kind == DialogItemKind::Icon) {
        // A static picture takes the size of its image; the rectangle only places it.
        const auto* pLabel = static_cast<QLabel*>(pWidget);
        if (!pLabel->pixmap().isNull()) {
            pWidget->resize(pLabel->pixmap().deviceIndependentSize().toSize());
        }
    }
    if (item.kind == DialogItemKind::Text || item.kind == DialogItemKind::TextNoPrefix ||
        item.kind == DialogItemKind::RightText) {
        // A plain label is one line of text high (8 units); a substitute font with a taller line
        // than its em would have its descenders cut off, so the label grows down to hold it.
        const int lineHeight = QFontMetrics(pWidget->font()).height();
        if (pWidget->height() < lineHeight) {
            pWidget->resize(pWidget->width(), lineHeight);
        }
    }
    if (item.kind == DialogItemKind::HiddenProgress) {
        pWidget->hide();
    }
    return pWidget;
}

void CreateDialogItems(QWidget* pParent, std::span<const DialogItem> items,
                       const CDialogUnits& units) {
    const CDialogFontScope dialogFont;
    for (const DialogItem& item : items) {
        CreateDialogItem(pParent, item, units);
    }
}

QWidget* FindDialogItem(const QWidget* pDialog, int id) {
    if (id == 0) {
        return nullptr;
    }
    const auto children = pDialog->findChildren<QWidget*>();
    for (QWidget* pChild : children) {
        const QVariant value = pChild->property(kIdProperty);
        if (value.isValid() && value.toInt() == id) {
            return pChild;
        }
    }
    return nullptr;
}

void CentreOnPointer(QWidget* pWindow) {
    const QPoint pointer = QCursor::pos();
    QRect frame(QPoint(0, 0), pWindow->size());
    frame.moveCenter(pointer);
    if (const QScreen* pScreen = QGuiApplication::screenAt(pointer)) {
        const QRect area = pScreen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), area.left(),
                                  std::max(area.left(), area.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), area.top(),
                                 std::max(area.top(), area.bottom() - frame.height())));
    }
    pWindow->move(frame.topLeft());
}
