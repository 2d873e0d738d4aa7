#pragma once

class QComboBox;
class QString;

// A sorted drop-down list on top of QComboBox, which keeps items in insertion order: entries are
// kept in ascending, case-insensitive text order, and lookups match entries that begin with a text.

// Inserts `text` at its sorted place (after equal entries) and gives its position. The current
// selection stays on the entry it was on.
int AddSortedString(QComboBox* pCombo, const QString& text);

// Position of the first entry that begins with `text`, ignoring case; -1 when there is none.
int FindStringPrefix(const QComboBox* pCombo, const QString& text);
