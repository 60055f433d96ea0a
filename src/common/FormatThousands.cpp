#include "common/FormatThousands.h"

#include <langinfo.h>
#include <locale.h>

std::string FormatThousands(std::int64_t value, char separator)
{
    return FormatThousands(value, std::string_view(&separator, 1));
}

std::string FormatThousands(std::int64_t value, std::string_view separator)
{
    // Digits of the magnitude without overflow for the most negative value.
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(value + 1)) + 1u : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);

    // Separators before the last 3, 6 and 9 digits; never more than three.
    const std::size_t length = digits.size();
    std::string text;
    text.reserve(length + 3 * separator.size() + 1);
    if (negative)
        text.push_back('-');
    for (std::size_t i = 0; i < length; ++i)
    {
        const std::size_t fromEnd = length - i;
        if (i > 0 && (fromEnd == 3 || fromEnd == 6 || fromEnd == 9))
            text.append(separator);
        text.push_back(digits[i]);
    }
    return text;
}

std::string FormatThousands(std::int64_t value)
{
    return FormatThousands(value, LocaleThousandsSeparator());
}

std::string LocaleThousandsSeparator()
{
    // A private locale object: the process-wide locale stays "C" for the rest of the program.
    locale_t numeric = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (numeric == static_cast<locale_t>(nullptr))
        return ".";
    // Constructed, not assigned: GCC 12 reports a false -Wrestrict for the assignment.
    const char* sep = nl_langinfo_l(THOUSEP, numeric);
    std::string separator = sep != nullptr && *sep != '\0' ? std::string(sep) : std::string(".");
    freelocale(numeric);
    return separator;
}
