// The configuration file as the programs read it, over any bytes: the file
// goes through the same INI reading as config.ini, its keys are read as the
// window and the runner read them, and the database URL through its parser.
// No input may crash, and a parsed URL never shows its password.
#include "database/DatabaseUrl.h"
#include "fuzz/FuzzCheck.h"
#include "settings/ConfigLocation.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("config.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    FUZZ_CHECK(configFileProblem(path).isEmpty());

    {
        const QSettings config(path, QSettings::IniFormat);
        for (const char *key : {"defaultAddr/DMM", "defaultAddr/PWR", "defaultAddr/OSC",
                                "lastRun/folder", "lastRun/port"})
            (void)config.value(QLatin1String(key)).toString();
    }

    const QString text = DatabaseUrl::fromConfigFile(path);
    FUZZ_CHECK(text == text.trimmed());
    QString error;
    const DatabaseUrl url = DatabaseUrl::parse(text, &error);
    if (!url.isEmpty()) {
        FUZZ_CHECK(url.port >= 0 && url.port <= 65535);
        // The password is never shown: the display is the same without it. (Its text may
        // still appear where the URL has it elsewhere, in the database's name say.)
        DatabaseUrl withoutPassword = url;
        withoutPassword.password.clear();
        FUZZ_CHECK(url.displayText() == withoutPassword.displayText());
    }
    return 0;
}
