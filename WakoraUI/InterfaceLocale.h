#pragma once

#include <QLocale>

// The locale of the interface's formatted texts (weekdays, numbers, dates,
// the order of names): Korean, the interface's one language, with the
// user's region. The system locale may be "C" or another language, whose
// weekday letters and collation would not fit the Korean texts around them.
QLocale interfaceLocale();
