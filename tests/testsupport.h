#pragma once

// Small helpers shared by the tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace TestSupport {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// FF FE and the text in UTF-16LE, as the Unicode form is written.
inline QByteArray unicodeFile(QStringView text)
{
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return bytes;
}

// The rows of a UTF-8 table under data/: a line each, fields split at tabs; lines starting with
// '#' are comments.
inline QList<QStringList> tableRows(const QString &path)
{
    QList<QStringList> rows;
    for (const QString &line : QString::fromUtf8(readFile(path)).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(u'#'))
            rows.append(line.split(u'\t'));
    }
    return rows;
}

} // namespace TestSupport
