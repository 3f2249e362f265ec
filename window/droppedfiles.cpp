#include "droppedfiles.h"

#include "conversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace Tessaline {

namespace {

constexpr int kEntryMargin = 8; // pixels beside an entry's text in the file list

} // namespace

bool hasLocalPaths(const QMimeData &mimeData)
{
    const QList<QUrl> urls = mimeData.urls();
    return std::any_of(urls.cbegin(), urls.cend(), [](const QUrl &url) { return url.isLocalFile(); });
}

QList<DroppedPath> droppedPaths(const QMimeData &mimeData)
{
    const QList<QUrl> urls = mimeData.urls();
    QList<DroppedPath> paths;
    paths.reserve(urls.size());
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        // A URL's path is its name's bytes, percent-encoded; they decode as UTF-8.
        const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        const QString decoded = QString::fromUtf8(bytes);
        paths.append({QDir::toNativeSeparators(url.toLocalFile()), decoded.toUtf8() != bytes});
    }
    return paths;
}

namespace {

// The files among a program's arguments (its name first): every argument but the options ("-x",
// "--x") before a "--", as absolute native paths.
QList<DroppedPath> fileArguments(const QList<DroppedPath> &arguments)
{
    QList<DroppedPath> paths;
    bool options = true; // until "--"
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const DroppedPath &argument = arguments[i];
        if (options && argument.path == u"--")
            options = false;
        else if (!options || !argument.path.startsWith(u'-'))
            paths.append({QDir::toNativeSeparators(QFileInfo(argument.path).absoluteFilePath()), argument.undecodable});
    }
    return paths;
}

} // namespace

QList<DroppedPath> commandLinePaths(int argc, const char *const *argv)
{
    QList<DroppedPath> arguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString name = QFile::decodeName(bytes);
        arguments.append({name, QFile::encodeName(name) != bytes});
    }
    return fileArguments(arguments);
}

QList<DroppedPath> commandLinePaths(const QStringList &arguments)
{
    QList<DroppedPath> decoded;
    for (const QString &argument : arguments)
        decoded.append({argument});
    return fileArguments(decoded);
}

QString shownEntry(const QString &entry)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    QString shown = entry;
    return shown.replace(lineBreak, QStringLiteral("\u23CE"));
}

int listEntryWidth(const QFontMetrics &metrics, const QString &entry)
{
    return metrics.horizontalAdvance(shownEntry(entry)) + kEntryMargin;
}

} // namespace Tessaline
