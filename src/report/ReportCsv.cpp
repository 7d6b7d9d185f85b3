#include "report/ReportCsv.h"

#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

void appendNumber(QByteArray *line, double value)
{
    line->append(',');
    if (!std::isnan(value))
        line->append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
}

QByteArray quoted(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

} // namespace

bool ReportCsv::write(const ReportSet &set, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const bool labelled = set.reports.size() > 1;
    // The column is there only when a sweep went both ways: a one-way
    // sweep's table stays as it always was.
    const bool hysteresis =
        std::any_of(set.reports.begin(), set.reports.end(), [](const LinearityReport &report) {
            return report.hysteresis.sweptBothWays();
        });
    QByteArray text = labelled ? "report," : "";
    text += hysteresis ? "code,n,mean,sd,min,max,inl,dnl,hysteresis\n"
                       : "code,n,mean,sd,min,max,inl,dnl\n";
    for (const LinearityReport &report : set.reports) {
        const LinearityResult &r = report.result;
        const QByteArray label = labelled ? quoted(report.label) + ',' : QByteArray();
        for (qsizetype i = 0; i < report.steps.size(); ++i) {
            const StepStats &s = report.steps.at(i);
            text += label + QByteArray::number(s.code) + ',' + QByteArray::number(s.count);
            for (double value : {s.mean, s.stdDev, s.min, s.max, r.leastSquares.inl.at(i),
                                 r.leastSquares.dnl.at(i)})
                appendNumber(&text, value);
            if (hysteresis)
                appendNumber(&text, report.hysteresis.differenceAt(s.code));
            text += '\n';
            // Written in pieces: a million codes need no copy of the whole table.
            if (text.size() > (1 << 16)) {
                if (file.write(text) < 0)
                    break;
                text.clear();
            }
        }
    }
    if (file.write(text) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
