#pragma once

#include <QString>

// Durations as the interface writes them: full unit names ("1시간 30분"),
// in Korean, the interface's one language. A remainder below a minute is
// dropped, and so is a leading or trailing zero unit ("2시간", "45분"); a
// duration under a minute reads "0분". Negative durations count as zero; a
// duration that is not a number gives the empty text.
class DurationText
{
public:
    DurationText() = delete;

    // Hours and minutes.
    static QString hoursAndMinutes(double seconds);
    // Minutes only.
    static QString minutes(double seconds);
    // The rule of usage texts: minutes only under an hour (3,600 seconds),
    // hours and minutes from an hour up.
    static QString usage(double seconds);
    // The time left of a timed session: seconds in its last minute
    // ("45초 남음"), else hours and minutes rounded up ("1시간 12분 남음"),
    // so that it never reads less than what is left.
    static QString remaining(qint64 seconds);
};
