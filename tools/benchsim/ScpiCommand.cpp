#include "tools/benchsim/ScpiCommand.h"

namespace {

bool keywordMatches(const QByteArray &patternNode, const QByteArray &word, int *suffix)
{
    QByteArray keyword = patternNode;
    const bool takesSuffix = keyword.endsWith('#');
    if (takesSuffix)
        keyword.chop(1);

    // Split a numeric suffix off the received keyword ("VOLT2" -> "VOLT", 2).
    QByteArray letters = word;
    int digits = 0;
    while (digits < letters.size() && letters.at(letters.size() - 1 - digits) >= '0' &&
           letters.at(letters.size() - 1 - digits) <= '9')
        ++digits;
    if (keyword.startsWith('*'))
        digits = 0; // common commands carry no suffix
    if (digits > 0 && !takesSuffix)
        return false;
    const QByteArray number = letters.right(digits);
    letters.chop(digits);

    QByteArray shortForm;
    for (char c : keyword) {
        if ((c >= 'A' && c <= 'Z') || c == '*')
            shortForm += c;
    }
    const QByteArray upper = letters.toUpper();
    if (upper != shortForm && upper != keyword.toUpper())
        return false;
    if (suffix != nullptr && takesSuffix)
        *suffix = digits > 0 ? number.toInt() : 1;
    return true;
}

} // namespace

QList<ScpiCommand> ScpiCommand::parseLine(const QByteArray &line)
{
    QList<ScpiCommand> commands;
    for (const QByteArray &part : line.split(';')) {
        const QByteArray text = part.trimmed();
        if (!text.isEmpty())
            commands.append(ScpiCommand(text));
    }
    return commands;
}

ScpiCommand::ScpiCommand(const QByteArray &text)
{
    const QByteArray trimmed = text.trimmed();
    int end = 0;
    while (end < trimmed.size() && trimmed.at(end) != ' ' && trimmed.at(end) != '\t')
        ++end;
    QByteArray header = trimmed.left(end);
    arguments = trimmed.mid(end).trimmed();
    if (header.endsWith('?')) {
        query = true;
        header.chop(1);
    }
    if (header.startsWith(':'))
        header.remove(0, 1);
    headerNodes = header.split(':');
}

bool ScpiCommand::matches(const char *pattern, int *suffix) const
{
    QByteArray text(pattern);
    const bool wantsQuery = text.endsWith('?');
    if (wantsQuery)
        text.chop(1);
    if (wantsQuery != query)
        return false;
    return matchFrom(text.split(':'), 0, 0, suffix);
}

bool ScpiCommand::matchFrom(const QList<QByteArray> &pattern, int p, int h, int *suffix) const
{
    if (p == pattern.size())
        return h == headerNodes.size();
    QByteArray node = pattern.at(p);
    const bool optional = node.startsWith('[') && node.endsWith(']');
    if (optional) {
        node = node.mid(1, node.size() - 2);
        if (matchFrom(pattern, p + 1, h, suffix))
            return true;
    }
    if (h == headerNodes.size() || !keywordMatches(node, headerNodes.at(h), suffix))
        return false;
    return matchFrom(pattern, p + 1, h + 1, suffix);
}

bool ScpiCommand::argumentAsNumber(double &value) const
{
    bool ok = false;
    value = arguments.toDouble(&ok);
    return ok;
}

bool ScpiCommand::argumentAsNumber(double &value, double minimum, double maximum,
                                   double standard) const
{
    const QByteArray word = firstArgument().toUpper();
    if (word == "MIN" || word == "MINIMUM")
        value = minimum;
    else if (word == "MAX" || word == "MAXIMUM")
        value = maximum;
    else if (word == "DEF" || word == "DEFAULT")
        value = standard;
    else {
        bool ok = false;
        value = firstArgument().toDouble(&ok);
        return ok;
    }
    return true;
}

QByteArray ScpiCommand::firstArgument() const
{
    const qsizetype comma = arguments.indexOf(',');
    return (comma < 0 ? arguments : arguments.left(comma)).trimmed();
}

bool ScpiCommand::argumentAsBoolean(bool &value) const
{
    const QByteArray word = arguments.toUpper();
    if (word == "ON" || word == "1") {
        value = true;
        return true;
    }
    if (word == "OFF" || word == "0") {
        value = false;
        return true;
    }
    return false;
}
