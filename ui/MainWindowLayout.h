#pragma once

class CPictureCtrl;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Template 102, the main window: its control ids and its controls by role.

inline constexpr int kIdcSend = 1001;
inline constexpr int kIdcTextEdit = 1002;
inline constexpr int kIdcResponseEdit = 1003;
inline constexpr int kIdcPicture = 1004;
inline constexpr int kIdcAutoscan = 1006;
inline constexpr int kIdcPnp = 1007;
inline constexpr int kIdcAddressList = 1008;
inline constexpr int kIdcBank1 = 1018;
inline constexpr int kIdcCrcLabel = 1033;
inline constexpr int kIdcProgress = 1035;

// The controls other code reaches by role; the dialog owns them all.
struct MainWindowControls {
    QProgressBar* pProgress = nullptr;
    QLabel* pCrcLabel = nullptr;
    CPictureCtrl* pPicture = nullptr;
    QLineEdit* pResponseEdit = nullptr;
    QLineEdit* pTextEdit = nullptr;
    QComboBox* pAddressList = nullptr;
    QCheckBox* pBank1 = nullptr;
    QCheckBox* pPnp = nullptr;
    QCheckBox* pAutoscan = nullptr;
    QPushButton* pSend = nullptr;
};

// Builds template 102 on `pDialog`: the dialog font, every control in template order (which is
// also the keyboard focus order), the fixed size; gives the controls by role.
MainWindowControls CreateMainWindowControls(QDialog* pDialog);

// Starts reading the pictures of the main window drawn for `devicePixelRatio` (its panel, its
// decoration and its icon) on a thread of their own, for the window made soon after; at a ratio
// the resources hold no panel for, the panel is drawn there instead.
void LoadMainWindowArtworkAhead(double devicePixelRatio);
