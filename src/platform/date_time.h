// Date-time values as the program stores them: days since 30 December 1899
// 00:00 as a double, the time of day as the fraction.
#pragma once

#include "platform/clock.h"

namespace tarvik {

// Days since 1899-12-30 of a calendar date (proleptic Gregorian).
int DaysFromCivil(int year, int month, int day);
// The calendar date of a day number.
void CivilFromDays(int days, int& year, int& month, int& day);

double EncodeDateTime(const TLocalTime& t);
TLocalTime DecodeDateTime(double value);

}  // namespace tarvik
