#pragma once
//! @file FormatThousands.h
//! Digit grouping of counts and sizes for display ("12.345" with a full stop).

#include <cstdint>
#include <string>
#include <string_view>

//! Groups the digits of @p value with @p separator: a separator before the last
//! three digits, then every three digits, at most three separators (so a 13-digit
//! value keeps its first four digits ungrouped). A minus sign stays in front of
//! the digits and is never followed by a separator.
std::string FormatThousands(std::int64_t value, char separator);

//! Same with any separator text (a locale may give a multi-byte one).
std::string FormatThousands(std::int64_t value, std::string_view separator);

//! Same with the user's thousands separator (LocaleThousandsSeparator()).
std::string FormatThousands(std::int64_t value);

//! The thousands separator of the user's LC_NUMERIC locale (from the environment,
//! without changing the process locale); "." when the locale gives none.
std::string LocaleThousandsSeparator();
