#include "droppedfiles.h"

#include "conversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
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

QList<DroppedPath> commandLinePaths(int argc, const char *const *argv)
{
    QList<DroppedPath> paths;
    bool options = true; // until "--"
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (options && argument == "--") {
            options = false;
        } else if (!options || !argument.startsWith('-')) {
            const QString name = QFile::decodeName(argument);
            paths.append(
                {QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath()), QFile::encodeName(name) != argument});
        }
    }
    return paths;
}

int listEntryWidth(const QFontMetrics &metrics, const QString &entry)
{
    return metrics.horizontalAdvance(entry) + kEntryMargin;
}

} // namespace Tessaline
