#include "ui/ComboHelper.h"

#include <QComboBox>
#include <QString>

int AddSortedString(QComboBox* pCombo, const QString& text) {
    int position = 0;
    const int count = pCombo->count();
    while (position < count &&
           QString::compare(pCombo->itemText(position), text, Qt::CaseInsensitive) <= 0) {
        ++position;
    }
    pCombo->insertItem(position, text);
    return position;
}

int FindStringPrefix(const QComboBox* pCombo, const QString& text) {
    const int count = pCombo->count();
    for (int i = 0; i < count; ++i) {
        if (pCombo->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            return i;
        }
    }
    return -1;
}
