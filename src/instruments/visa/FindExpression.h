#pragma once

#include "instruments/visa/visa.h"

#include <regex>
#include <string>

namespace visa {

// A VISA search expression: '?' any one character, '*' and '+' zero or more
// and one or more of what precedes, "[list]" and "[^list]" with ranges,
// '|' and parentheses, '\' before a character that stands for itself. It
// matches the whole resource string, without regard to case. The attribute
// part in braces, "{VI_ATTR_...}", is not supported.
class FindExpression
{
public:
    // VI_SUCCESS, or VI_ERROR_INV_EXPR for an empty or malformed expression
    // or one with an attribute part.
    ViStatus compile(const char *text);
    bool matches(const std::string &resource) const;

private:
    std::regex pattern;
};

} // namespace visa
