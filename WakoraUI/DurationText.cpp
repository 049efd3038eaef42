#include "DurationText.h"

#include <QCoreApplication>

#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// Creating a formatter loads locale data: the interface keeps one. Main thread only.
const icu::MeasureFormat *formatter()
{
    static const std::unique_ptr<icu::MeasureFormat> format = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto created = std::make_unique<icu::MeasureFormat>(icu::Locale("ko"), UMEASFMT_WIDTH_WIDE, status);
        return U_FAILURE(status) ? nullptr : std::move(created);
    }();
    return format.get();
}

QString format(double seconds, bool withHours)
{
    if (std::isnan(seconds))
        return {};
    const icu::MeasureFormat *format = formatter();
    if (!format)
        return {};
    // Whole minutes; a duration too long to count in 32 bits saturates.
    const double wholeMinutes = std::floor(std::clamp(seconds, 0.0, 60.0 * INT32_MAX) / 60);
    const auto totalMinutes = static_cast<qint64>(wholeMinutes);
    const qint64 hours = withHours ? totalMinutes / 60 : 0;
    const qint64 minutes = withHours ? totalMinutes % 60 : totalMinutes;

    UErrorCode status = U_ZERO_ERROR;
    std::vector<icu::Measure> measures;
    if (hours > 0)
        measures.emplace_back(
            icu::Formattable(static_cast<int64_t>(hours)), icu::MeasureUnit::createHour(status), status);
    if (minutes > 0 || hours == 0)
        measures.emplace_back(
            icu::Formattable(static_cast<int64_t>(minutes)), icu::MeasureUnit::createMinute(status), status);
    if (U_FAILURE(status))
        return {};
    icu::UnicodeString text;
    icu::FieldPosition position(icu::FieldPosition::DONT_CARE);
    format->formatMeasures(measures.data(), static_cast<int32_t>(measures.size()), text, position, status);
    if (U_FAILURE(status))
        return {};
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace

QString DurationText::hoursAndMinutes(double seconds)
{
    return format(seconds, true);
}

QString DurationText::minutes(double seconds)
{
    return format(seconds, false);
}

QString DurationText::remaining(qint64 seconds)
{
    if (seconds < 60)
        return QCoreApplication::translate("WakoraUI", "%1초 남음").arg(std::max<qint64>(seconds, 0));
    const qint64 minutes = (seconds + 59) / 60;
    return QCoreApplication::translate("WakoraUI", "%1 남음").arg(format(double(minutes * 60), true));
}

QString DurationText::usage(double seconds)
{
    return format(seconds, seconds >= 3600);
}
