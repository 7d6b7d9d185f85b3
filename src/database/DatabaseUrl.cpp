#include "database/DatabaseUrl.h"

#include <QSettings>
#include <QUrl>
#include <QUrlQuery>

namespace {

// The connection parameters a URL may set besides those of its parts; others would let
// a configuration file reach into the client (service files, passwords in the clear).
const QStringList kAllowedOptions = {
    QStringLiteral("sslmode"), QStringLiteral("sslrootcert"), QStringLiteral("connect_timeout"),
    QStringLiteral("application_name"), QStringLiteral("target_session_attrs")};

} // namespace

DatabaseUrl DatabaseUrl::parse(const QString &text, QString *error)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() ||
        (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres"))) {
        *error = QStringLiteral("database URL '%1' is not postgresql://user@host:port/database")
                     .arg(text);
        return {};
    }
    DatabaseUrl result;
    result.user = url.userName(QUrl::FullyDecoded);
    result.password = url.password(QUrl::FullyDecoded);
    result.host = url.host(QUrl::FullyDecoded);
    result.port = url.port(5432);
    result.database = url.path(QUrl::FullyDecoded).mid(1);
    if (result.database.isEmpty() || result.database.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("database URL '%1' names no database").arg(result.displayText());
        return {};
    }
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (!kAllowedOptions.contains(key)) {
            *error = QStringLiteral("database URL option '%1' is not supported").arg(key);
            return {};
        }
        // The driver passes the options on as libpq's "key=value" pairs.
        if (value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char(';')) ||
            value.contains(QLatin1Char('\'')) || value.contains(QLatin1Char('\\'))) {
            *error = QStringLiteral("database URL option '%1' has an unsupported value").arg(key);
            return {};
        }
        result.options << key + QLatin1Char('=') + value;
    }
    return result;
}

QString DatabaseUrl::displayText() const
{
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(user);
    url.setHost(host);
    url.setPort(port);
    url.setPath(QLatin1Char('/') + database);
    return url.toString();
}

QString DatabaseUrl::fromConfigFile(const QString &iniPath)
{
    if (iniPath.isEmpty())
        return QString();
    const QSettings config(iniPath, QSettings::IniFormat);
    return config.value(QStringLiteral("database/url")).toString().trimmed();
}
