#pragma once

#include "plan/PlanSettings.h"

#include <QByteArray>
#include <QString>

struct RunPlan;

// A run plan as a lab keeps it under version control: INI-like text,
// "[section]" lines and "key = value" lines, full-line comments starting with
// '#' or ';', UTF-8. Read strictly: an unknown section or key, a key set twice,
// a value that does not parse, or a line of anything else is an error that
// names the file and the line. docs/plan.md describes every key.
class PlanFile
{
public:
    // Larger files are no plan.
    static constexpr qint64 kMaxBytes = 64 * 1024;

    // Reads the file at `path` into `settings`, each value's origin "<path>:<line>".
    [[nodiscard]] static bool read(const QString &path, PlanSettings *settings, QString *error);
    // The same for text already read; `name` is the file's name in messages.
    [[nodiscard]] static bool parse(const QByteArray &text, const QString &name,
                                    PlanSettings *settings, QString *error);

    // The plan in this format, every setting in force written out: a dry run
    // shows it, and it reads back as the same plan.
    static QString write(const RunPlan &plan);
};
