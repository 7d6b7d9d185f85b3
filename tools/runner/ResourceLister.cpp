#include "tools/runner/ResourceLister.h"

#include "instruments/visa/visa.h"

#include <chrono>
#include <future>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// "VI_ERROR_TMO" of "VI_ERROR_TMO: Timeout expired ...".
std::string statusName(ViStatus status)
{
    ViChar text[VI_FIND_BUFLEN];
    viStatusDesc(VI_NULL, status, text);
    const std::string description = text;
    return description.substr(0, description.find(':'));
}

// Milliseconds left until `end`, at least 1 (0 would be VISA's "immediately").
ViUInt32 msLeft(Clock::time_point end)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 1 ? ViUInt32(left) : 1;
}

// The instrument's identity, or why there is none; one deadline for all of it.
std::string identify(ViSession rm, const std::string &resource)
{
    const Clock::time_point end =
        Clock::now() + std::chrono::milliseconds(ResourceLister::QueryTimeoutMs);
    ViSession vi = VI_NULL;
    ViStatus status = viOpen(rm, resource.c_str(), VI_NULL, msLeft(end), &vi);
    std::string answer;
    if (status == VI_SUCCESS) {
        static const char query[] = "*IDN?\n";
        ViByte buffer[512];
        ViUInt32 count = 0;
        status = viSetAttribute(vi, VI_ATTR_TMO_VALUE, msLeft(end));
        if (status == VI_SUCCESS)
            status = viWrite(vi, reinterpret_cast<ViConstBuf>(query), sizeof query - 1, nullptr);
        if (status == VI_SUCCESS)
            status = viSetAttribute(vi, VI_ATTR_TMO_VALUE, msLeft(end));
        if (status == VI_SUCCESS)
            status = viRead(vi, buffer, sizeof buffer, &count);
        answer.assign(reinterpret_cast<const char *>(buffer), status >= VI_SUCCESS ? count : 0);
        viClose(vi);
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    if (answer.empty())
        return "(no answer: " + statusName(status < VI_SUCCESS ? status : VI_ERROR_TMO) + ")";
    return ResourceLister::printable(answer);
}

std::future<std::string> known(const std::string &text)
{
    std::promise<std::string> value;
    value.set_value(text);
    return value.get_future();
}

bool isSerial(ViSession rm, const std::string &resource)
{
    ViUInt16 type = 0;
    ViUInt16 board = 0;
    return viParseRsrc(rm, resource.c_str(), &type, &board) == VI_SUCCESS && type == VI_INTF_ASRL;
}

} // namespace

std::string ResourceLister::printable(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\')
            shown += "\\\\";
        else if (c == '\t')
            shown += "\\t";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (byte < 0x20 || byte >= 0x7F)
            shown += {'\\', 'x', hex[byte >> 4], hex[byte & 0xF]};
        else
            shown += c;
    }
    return shown;
}

int ResourceLister::run(const QString &pattern, bool probeSerial, FILE *out, FILE *err)
{
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        return 2;
    std::vector<std::string> resources;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar name[VI_FIND_BUFLEN];
    const QByteArray expression = pattern.toLocal8Bit();
    const ViStatus status = viFindRsrc(rm, expression.constData(), &list, &count, name);
    if (status == VI_ERROR_INV_EXPR) {
        std::fprintf(err, "benchtest-run: '%s' is not a VISA search expression\n",
                     printable(expression.toStdString()).c_str());
        viClose(rm);
        return 2;
    }
    if (status == VI_SUCCESS) {
        resources.push_back(name);
        while (viFindNext(list, name) == VI_SUCCESS)
            resources.push_back(name);
        viClose(list);
    } else {
        std::fprintf(err, "benchtest-run: no resource matches '%s'\n",
                     printable(expression.toStdString()).c_str());
    }

    // Every instrument is asked at once: one slow or hostile host costs
    // the listing one query time, not one per host.
    std::vector<std::future<std::string>> answers;
    std::size_t asked = 0;
    for (const std::string &resource : resources) {
        if (!probeSerial && isSerial(rm, resource)) {
            answers.push_back(known("(not asked: a serial port; --probe-serial asks it)"));
        } else if (asked >= MaxAsked) {
            answers.push_back(
                known("(not asked: more than " + std::to_string(MaxAsked) + " resources)"));
        } else {
            ++asked;
            answers.push_back(std::async(std::launch::async, identify, rm, resource));
        }
    }
    for (std::size_t i = 0; i < resources.size(); ++i) {
        std::fprintf(out, "%s\t%s\n", printable(resources[i]).c_str(), answers[i].get().c_str());
        std::fflush(out);
    }
    viClose(rm);
    return 0;
}
