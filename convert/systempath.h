#pragma once

// Paths as the system's calls take them, for the files of the conversion that call the system.

#include <QDir>
#include <QFile>
#include <QString>

#include <filesystem>
#include <string>

namespace Tessaline {

// The path as the system's calls take it.
inline std::filesystem::path systemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return path.toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

// A path the system gave, as a QString.
inline QString fromSystemPath(const std::filesystem::path &path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

#ifdef Q_OS_WIN
// Windows paths in Windows' separators, for the wide-character calls.
inline std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
#endif

} // namespace Tessaline
