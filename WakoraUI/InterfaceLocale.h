#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// The locale of the interface's formatted texts (weekdays, numbers, dates,
// the order of names): Korean, the interface's one language, with the
// user's region. The system locale may be "C" or another language, whose
// weekday letters and collation would not fit the Korean texts around them.
QLocale interfaceLocale();

// A day as the interface names it in lists: month, day and weekday in the
// interface's language ("12월 3일 (목)" in Korean).
QString dayText(const QDate &date);
