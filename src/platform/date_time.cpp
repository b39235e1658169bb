// Calendar arithmetic after Howard Hinnant's civil-date algorithms, shifted to
// the 1899-12-30 origin of the stored date-time values.
#include "platform/date_time.h"

#include <cmath>

namespace tarvik {
namespace {
// Days from 1970-01-01 to 1899-12-30.
constexpr int kEpochShift = 25569;

int DaysFromCivil1970(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int>(doe) - 719468;
}
}  // namespace

int DaysFromCivil(int year, int month, int day) {
    return DaysFromCivil1970(year, month, day) + kEpochShift;
}

void CivilFromDays(int days, int& year, int& month, int& day) {
    int z = days - kEpochShift + 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int y = static_cast<int>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = y + (month <= 2);
}

double EncodeDateTime(const TLocalTime& t) {
    const double days = DaysFromCivil(t.Year, t.Month, t.Day);
    const double ms = ((t.Hour * 60.0 + t.Minute) * 60.0 + t.Second) * 1000.0 + t.Millisecond;
    return days + ms / 86400000.0;
}

TLocalTime DecodeDateTime(double value) {
    TLocalTime t;
    const double dayPart = std::floor(value);
    long long ms = std::llround((value - dayPart) * 86400000.0);
    int days = static_cast<int>(dayPart);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++days;
    }
    CivilFromDays(days, t.Year, t.Month, t.Day);
    t.Hour = static_cast<int>(ms / 3600000);
    t.Minute = static_cast<int>(ms / 60000 % 60);
    t.Second = static_cast<int>(ms / 1000 % 60);
    t.Millisecond = static_cast<int>(ms % 1000);
    return t;
}

}  // namespace tarvik
