#include "app/MainWindow.h"
#include "app/WindowCommandLine.h"
#include "app/WindowLanguage.h"
#include "commandline/RuntimeDirectory.h"
#include "settings/ConfigLocation.h"

#include <QApplication>
#include <QProcessEnvironment>

int main(int argc, char *argv[])
{
    // Log lines carry their source in their text ("UI: ", "TestThread: "); the
    // logging category is for filtering, not for the line.
    qSetMessagePattern(QStringLiteral("%{message}"));
    if (const std::optional<int> status = handleWindowCommandLine(argc, argv))
        return *status;
    provideRuntimeDirectory();
    QApplication app(argc, argv);
    AppNames::apply();
    installWindowLanguage(windowLanguage(QProcessEnvironment::systemEnvironment()));
    MainWindow window;
    window.show();
    return app.exec();
}
