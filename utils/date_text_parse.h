#pragma once
// Reading the calendar fields out of short date and time-of-day texts. No
// time zones and no calendar validation beyond the ranges stated.
#include <string>

#include "utils/types.h"

// 1-12 for a text starting with a month's three-letter name in any case
// ("Sep", "september"), else -1.
int month_from_name(const char* text);

// Month first ("01/31/1986", "12-31-99") or day and month name
// ("5-Jan-2010"), separated by '-' or '/'. A two-digit year of 30 or less is
// 20xx, a larger one 19xx. True when month is 1-12 and day 1-31.
bool parse_date(const char* text, uint32& day, uint32& month, uint32& year);
// Three fields split at `separator`, their meaning given by `order` (D, M and
// Y in any order; upper-cased in place). Years 0-30 are 20xx, 31-99 19xx.
bool parse_date_by_order(const char* text, std::string& order, char separator, uint32& day,
                         uint32& month, uint32& year);

// "H:MM", "H:MM:SS.fff", with an optional "am"/"pm" marker on a 12-hour
// clock (12 am is hour 0, 12 pm hour 12). An hour outside 0-23 is refused.
bool parse_time_of_day(const char* text, uint32& hours, uint32& minutes, double& seconds);
bool parse_time_of_day_int(const char* text, uint32& hours, uint32& minutes, uint32& seconds);
// Milliseconds since midnight.
bool parse_time_of_day_ms(const char* text, uint32& milliseconds);

// A seconds field read as the decimal text it is, since most typed fractions
// (.007) have no exact binary form: `whole` seconds and the first `places`
// decimals (at most 9) as `part` units of 10^-places s; later decimals are
// dropped. `value` is always the floating-point conversion of the text. False
// when that conversion reads anything but plain digits with an optional
// point, blanks and '+' before them (an exponent, hexadecimal, a '-'), or
// more than 15 whole digits: the caller then goes by `value`.
bool read_decimal_seconds(const char* text, int places, double& value, uint64& whole, uint64& part);
