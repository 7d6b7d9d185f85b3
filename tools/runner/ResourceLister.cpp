#include "tools/runner/ResourceLister.h"

#include "instruments/visa/visa.h"

#include <string>
#include <vector>

namespace {

// "VI_ERROR_TMO" of "VI_ERROR_TMO: Timeout expired ...".
std::string statusName(ViStatus status)
{
    ViChar text[VI_FIND_BUFLEN];
    viStatusDesc(VI_NULL, status, text);
    const std::string description = text;
    return description.substr(0, description.find(':'));
}

// The instrument's identity, or why there is none.
std::string identify(ViSession rm, const std::string &resource)
{
    ViSession vi = VI_NULL;
    ViStatus status = viOpen(rm, resource.c_str(), VI_NULL, ResourceLister::QueryTimeoutMs, &vi);
    std::string answer;
    if (status == VI_SUCCESS) {
        static const char query[] = "*IDN?\n";
        ViByte buffer[512];
        ViUInt32 count = 0;
        status = viSetAttribute(vi, VI_ATTR_TMO_VALUE, ResourceLister::QueryTimeoutMs);
        if (status == VI_SUCCESS)
            status = viWrite(vi, reinterpret_cast<ViConstBuf>(query), sizeof query - 1, nullptr);
        if (status == VI_SUCCESS)
            status = viRead(vi, buffer, sizeof buffer, &count);
        answer.assign(reinterpret_cast<const char *>(buffer), status >= VI_SUCCESS ? count : 0);
        viClose(vi);
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    if (answer.empty())
        return "(no answer: " + statusName(status < VI_SUCCESS ? status : VI_ERROR_TMO) + ")";
    return answer;
}

} // namespace

int ResourceLister::run(const QString &pattern, FILE *out, FILE *err)
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
                     expression.constData());
        viClose(rm);
        return 2;
    }
    if (status == VI_SUCCESS) {
        resources.push_back(name);
        while (viFindNext(list, name) == VI_SUCCESS)
            resources.push_back(name);
        viClose(list);
    } else {
        std::fprintf(err, "benchtest-run: no resource matches '%s'\n", expression.constData());
    }
    for (const std::string &resource : resources) {
        std::fprintf(out, "%s\t%s\n", resource.c_str(), identify(rm, resource).c_str());
        std::fflush(out);
    }
    viClose(rm);
    return 0;
}
