// The runner's events for machines: every line one JSON object that parses,
// numbered and stamped, the schema's version first, readings as text and as
// measurements.
#include "tools/runner/RunEvents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <cstdio>

class tst_RunEvents : public QObject
{
    Q_OBJECT

private slots:
    void aRunAsLinesOfJson();
};

void tst_RunEvents::aRunAsLinesOfJson()
{
    qint64 now = 0;
    const QDateTime started(QDate(2026, 12, 6), QTime(9, 52, 25), Qt::UTC);
    std::FILE *file = std::tmpfile();
    {
        RunEvents events(file, {[&now] { return now; },
                                [&] {
                                    return started.addMSecs(now);
                                }});
        events.start(QJsonObject{{"test", "dac"}}, QJsonObject{{"meter", "BenchSim"}}, "/r/x.txt");
        now = 612;
        events.step(1, 4095, {"+1.00000000E+00", "ERR", "+9.90000000E+37", "-9.9E37", "NAN"});
        events.fault("Value 2 not sent\n\"port gone\"", 2); // stays on its line
        events.end("stopped", false, QJsonObject{{"errCells", 1}}, "stopped with 1 ERR cell", 130);
    }
    std::rewind(file);
    QByteArray bytes(4096, '\0');
    bytes.truncate(qsizetype(std::fread(bytes.data(), 1, size_t(bytes.size()), file)));
    std::fclose(file);

    QVERIFY(bytes.endsWith('\n'));
    const QList<QByteArray> lines = bytes.chopped(1).split('\n');
    QStringList names;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonObject event = QJsonDocument::fromJson(lines.at(i), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, lines.at(i).constData());
        QCOMPARE(event["seq"].toInteger(), i);
        QCOMPARE(event["schemaVersion"].toInt(-1), i == 0 ? RunEvents::kSchemaVersion : -1);
        names << event["event"].toString();
        if (event["event"] == "step") {
            QCOMPARE(event["t"].toInteger(), 612);
            QCOMPARE(event["wallTime"].toString(), QStringLiteral("2026-12-06T09:52:25.612Z"));
            QCOMPARE(event["readings"][2].toString(), QStringLiteral("+9.90000000E+37"));
            // Only a finite reading below the meter's overload value is a measurement.
            QCOMPARE(event["values"].toArray(), QJsonArray({1.0, QJsonValue::Null, QJsonValue::Null,
                                                            QJsonValue::Null, QJsonValue::Null}));
        }
    }
    QCOMPARE(names, QStringList({"start", "step", "fault", "end"}));
}

QTEST_APPLESS_MAIN(tst_RunEvents)
#include "tst_runevents.moc"
