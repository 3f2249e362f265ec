#include "formatmodule.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>

#include <map>

namespace Tessaline {

namespace {

struct LoadedModule
{
    QString path;
    QLibrary *library = nullptr; // never unloaded: another thread may be in its functions
    QString error; // why library is null
};

// The folder of the running executable, as the kernel knows it (not argv[0], whose folder could
// be the current one); empty when it is gone (the program replaced while running).
QString programFolder()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

LoadedModule loadModule(const char *name)
{
    const QString folder = programFolder();
    if (folder.isEmpty())
        return {{}, nullptr, QStringLiteral("the program's own folder cannot be found")};
    const QString path = QDir::cleanPath(folder + u'/' + QLatin1StringView(TESSALINE_MODULE_DIR) + u'/'
                                         + QLatin1StringView(name) + u".so");
    if (!QFileInfo(path).isFile())
        return {path, nullptr, path + u" is missing"};
    auto library = std::make_unique<QLibrary>(path);
    if (!library->load())
        return {path, nullptr, library->errorString()};
    const auto *version = reinterpret_cast<const char *>(library->resolve("tessalineModuleVersion"));
    if (!version || qstrcmp(version, TESSALINE_MODULE_VERSION) != 0) {
        const QString found = version ? QString::fromUtf8(version) : QStringLiteral("unknown");
        library->unload();
        return {
            path, nullptr,
            QStringLiteral("%1 is of version %2, not %3").arg(path, found, QStringLiteral(TESSALINE_MODULE_VERSION))};
    }
    return {path, library.release(), {}};
}

const LoadedModule &loadedModule(const char *name)
{
    static QMutex mutex;
    // By name, loaded once, failed or not. Never destroyed, like the libraries: a QLibrary destroyed
    // at exit would outlive Qt's own record of the loaded libraries.
    static auto *const modules = new std::map<QByteArray, LoadedModule>;
    const QMutexLocker lock(&mutex);
    auto found = modules->find(name);
    if (found == modules->end())
        found = modules->emplace(name, loadModule(name)).first;
    return found->second;
}

} // namespace

Expected<QFunctionPointer> moduleFunction(const char *module, const char *symbol)
{
    const LoadedModule &loaded = loadedModule(module);
    if (!loaded.library)
        return Failure {Failure::Kind::ModuleUnavailable, {}, 0, loaded.error};
    if (const QFunctionPointer function = loaded.library->resolve(symbol))
        return function;
    return Failure {Failure::Kind::ModuleUnavailable,
                    {},
                    0,
                    QStringLiteral("%1 has no %2").arg(loaded.path, QLatin1StringView(symbol))};
}

Expected<ChapterList> readThroughModule(const char *module, const char *symbol, const ReadRequest &request)
{
    const Expected<QFunctionPointer> reader = moduleFunction(module, symbol);
    if (!reader) {
        Failure failure = reader.error();
        failure.path = request.path;
        return failure;
    }
    using Reader = Expected<ChapterList> (*)(const ReadRequest &);
    return reinterpret_cast<Reader>(*reader)(request);
}

} // namespace Tessaline
