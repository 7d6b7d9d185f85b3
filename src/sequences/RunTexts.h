#pragma once

#include "engine/RunEngine.h"

#include <QString>

// What the window shows of a run, in the window's language: the progress
// line under the bar and the one-line summary of a run that is not whole.
// The Chinese texts are the window's own; an English window has them
// translated. The result file, the record and the log never change with the
// language.
namespace RunTexts {

QString progressStarting();                   // "进度：--"
QString progressFinished();                   // "进度：已完成！"
QString progress(const RunProgress &figures); // "进度：40%  ( 2m 15s )"
QString summary(const RunOutcome &outcome);   // "完成，但有：4 个 ERR 读数"

} // namespace RunTexts
