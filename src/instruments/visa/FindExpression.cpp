// GCC 12 with the sanitizers takes a std::function inside <regex>'s own
// compiler for possibly uninitialised (a false positive in the library's code,
// seen in optimised sanitizer builds); it is silenced for this file only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "instruments/visa/FindExpression.h"

#include <cctype>
#include <cstring>

namespace visa {

namespace {

// Characters that ECMAScript reads as operators but VISA as themselves.
bool isRegexOnlyOperator(char c)
{
    return std::strchr(".^${}", c) != nullptr;
}

// Translates into an ECMAScript expression; false when the text cannot be
// a VISA expression.
bool translate(const std::string &text, std::string &regex)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{') // the attribute part
            return false;
        if (c == '\\') {
            if (++i == text.size())
                return false;
            // "\d" is a digit class to ECMAScript but a 'd' to VISA.
            if (!std::isalnum(static_cast<unsigned char>(text[i])))
                regex += '\\';
            regex += text[i];
            continue;
        }
        if (c == '[') {
            // Up to the closing bracket; a ']' first in the list (after a
            // '^') is one of its characters, which ECMAScript must see escaped.
            std::size_t first = i + 1;
            if (first < text.size() && text[first] == '^')
                ++first;
            const std::size_t end = text.find(']', first + 1);
            if (first >= text.size() || end == std::string::npos)
                return false;
            regex += text.substr(i, first - i);
            for (std::size_t j = first; j < end; ++j) {
                if (std::strchr("\\[]", text[j]) != nullptr)
                    regex += '\\';
                regex += text[j];
            }
            regex += ']';
            i = end;
            continue;
        }
        if (c == '?')
            regex += '.';
        else if (isRegexOnlyOperator(c))
            regex += std::string("\\") + c;
        else
            regex += c;
    }
    return true;
}

} // namespace

ViStatus FindExpression::compile(const char *text)
{
    if (text == nullptr || *text == '\0' || std::strlen(text) >= VI_FIND_BUFLEN)
        return VI_ERROR_INV_EXPR;
    std::string regex;
    if (!translate(text, regex))
        return VI_ERROR_INV_EXPR;
    try {
        pattern = std::regex(regex, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error &) {
        return VI_ERROR_INV_EXPR;
    }
    return VI_SUCCESS;
}

bool FindExpression::matches(const std::string &resource) const
{
    return std::regex_match(resource, pattern);
}

} // namespace visa
