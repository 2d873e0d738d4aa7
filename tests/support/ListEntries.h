#pragma once

#include <string>
#include <vector>

class QComboBox;

// The texts of a drop-down list's entries, in list order.
std::vector<std::string> ListEntries(const QComboBox* pList);
