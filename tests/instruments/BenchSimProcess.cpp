#include "BenchSimProcess.h"

#include <QFile>

BenchSimProcess::BenchSimProcess(const QStringList &arguments)
{
    program.setProgram(BENCHSIM_EXECUTABLE);
    program.setArguments(QStringList{"--transcript", folder.filePath("transcript.txt")} +
                         arguments);
    program.start();
    if (!program.waitForStarted(5000)) {
        problem = program.errorString();
        return;
    }
    QByteArray output;
    while (!output.contains('\n') && program.waitForReadyRead(5000))
        output += program.readAllStandardOutput();
    const QByteArray line = output.left(output.indexOf('\n'));
    const QStringList fields = QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts);
    if (fields.value(0) != "BENCHSIM") {
        problem = QString::fromUtf8(output + program.readAllStandardError());
        return;
    }
    for (const QString &field : fields.mid(1))
        addresses.insert(field.section('=', 0, 0), field.section('=', 1));
    started = true;
}

BenchSimProcess::~BenchSimProcess()
{
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(2000);
    }
}

quint16 BenchSimProcess::rawPort(const QString &key) const
{
    return quint16(address(key).section("::", 2, 2).toUInt());
}

QStringList BenchSimProcess::transcript(const QString &key) const
{
    QFile file(folder.filePath("transcript.txt"));
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QString prefix = key + ' ';
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.startsWith(prefix))
            lines << text.mid(prefix.size());
    }
    return lines;
}

int BenchSimProcess::stop()
{
    if (program.state() == QProcess::NotRunning)
        return program.exitCode();
    program.terminate();
    if (!program.waitForFinished(3000))
        return -1;
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}
