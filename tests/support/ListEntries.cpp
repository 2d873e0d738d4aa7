#include "tests/support/ListEntries.h"

#include <QComboBox>

std::vector<std::string> ListEntries(const QComboBox* pList) {
    std::vector<std::string> entries;
    for (int i = 0; i < pList->count(); ++i) {
        entries.push_back(pList->itemText(i).toStdString());
    }
    return entries;
}
