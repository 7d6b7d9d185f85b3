#include "FindExpression.h"

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
            // Copied as it is, up to the closing bracket; a ']' first in the
            // list is one of its characters.
            std::size_t end = i + 1;
            if (end < text.size() && text[end] == '^')
                ++end;
            if (end < text.size() && text[end] == ']')
                ++end;
            end = text.find(']', end);
            if (end == std::string::npos)
                return false;
            for (std::size_t j = i; j <= end; ++j) {
                if (text[j] == '\\' || (text[j] == '[' && j > i))
                    regex += '\\';
                regex += text[j];
            }
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
