#include "formatmodule.h"

#include "failurereason.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QLibrary>
#endif

#include <map>
#include <memory>

namespace Tessaline {

namespace {

#ifdef Q_OS_WIN
constexpr QLatin1StringView kModuleSuffix(".dll");
#else
constexpr QLatin1StringView kModuleSuffix(".so");
#endif

// A module's library, opened by its absolute path only.
class ModuleLibrary
{
public:
    // The library, or null with why it cannot be loaded in error.
    static std::unique_ptr<ModuleLibrary> open(const QString &path, QString &error);
    ~ModuleLibrary();
    QFunctionPointer resolve(const char *symbol);

private:
#ifdef Q_OS_WIN
    explicit ModuleLibrary(HMODULE handle) : m_handle(handle)
    { }
    HMODULE m_handle;
#else
    explicit ModuleLibrary(const QString &path) : m_library(path)
    { }
    QLibrary m_library;
#endif
};

#ifdef Q_OS_WIN
// The folder of the running executable, as Windows knows it (not argv[0], whose folder could be
// the current one); empty when it cannot be had.
QString programFolder()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0)
            return {};
        if (length < name.size()) // else cut short: longer paths are allowed
            return QFileInfo(QString::fromWCharArray(name.data(), int(length))).absolutePath();
        name.resize(name.size() * 2);
    }
}

// The module's dependent DLLs are looked for beside it and in System32 only, never in the
// current folder or on PATH (nor in the program's folder, whose DLLs the program has loaded
// already and which are found as loaded).
std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const QString &path, QString &error)
{
    const QString native = QDir::toNativeSeparators(path);
    const HMODULE handle = LoadLibraryExW(reinterpret_cast<const wchar_t *>(native.utf16()), nullptr,
                                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!handle) {
        error = Reason::tr("%1 cannot be loaded: %2").arg(native, qt_error_string(int(GetLastError())));
        return nullptr;
    }
    return std::unique_ptr<ModuleLibrary>(new ModuleLibrary(handle));
}

ModuleLibrary::~ModuleLibrary()
{
    FreeLibrary(m_handle);
}

QFunctionPointer ModuleLibrary::resolve(const char *symbol)
{
    return reinterpret_cast<QFunctionPointer>(GetProcAddress(m_handle, symbol));
}
#else
// The folder of the running executable, as the kernel knows it (not argv[0], whose folder could
// be the current one); empty when it is gone (the program replaced while running).
QString programFolder()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const QString &path, QString &error)
{
    std::unique_ptr<ModuleLibrary> library(new ModuleLibrary(path));
    if (!library->m_library.load()) {
        error = library->m_library.errorString();
        return nullptr;
    }
    return library;
}

ModuleLibrary::~ModuleLibrary()
{
    m_library.unload();
}

QFunctionPointer ModuleLibrary::resolve(const char *symbol)
{
    return m_library.resolve(symbol);
}
#endif

struct LoadedModule
{
    QString path; // in the system's separators, as the reasons show it
    ModuleLibrary *library = nullptr; // never unloaded: another thread may be in its functions
    QString error; // why library is null
};

LoadedModule loadModule(const char *name)
{
    const QString folder = programFolder();
    if (folder.isEmpty())
        return {{}, nullptr, Reason::tr("the program's own folder cannot be found")};
    const QString path = QDir::cleanPath(folder + u'/' + QLatin1StringView(TESSALINE_MODULE_DIR) + u'/'
                                         + QLatin1StringView(name) + kModuleSuffix);
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile())
        return {shown, nullptr, Reason::tr("%1 is missing").arg(shown)};
    QString error;
    std::unique_ptr<ModuleLibrary> library = ModuleLibrary::open(path, error);
    if (!library)
        return {shown, nullptr, error};
    const auto *version = reinterpret_cast<const char *>(library->resolve("tessalineModuleVersion"));
    if (!version || qstrcmp(version, TESSALINE_MODULE_VERSION) != 0) {
        const QString found = version ? QString::fromUtf8(version) : Reason::tr("unknown");
        return {shown, nullptr,
                Reason::tr("%1 is of version %2, not %3").arg(shown, found, QStringLiteral(TESSALINE_MODULE_VERSION))};
    }
    return {shown, library.release(), {}};
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
                    Reason::tr("%1 has no %2").arg(loaded.path, QLatin1StringView(symbol))};
}

namespace {

// What the module's function of that symbol, a reader of Request, makes of request.
template<typename Result, typename Request>
Expected<Result> throughModule(const char *module, const char *symbol, const Request &request)
{
    const Expected<QFunctionPointer> reader = moduleFunction(module, symbol);
    if (!reader) {
        Failure failure = reader.error();
        failure.path = request.path;
        return failure;
    }
    using Reader = Expected<Result> (*)(const Request &);
    return reinterpret_cast<Reader>(*reader)(request);
}

} // namespace

Expected<ChapterList> readThroughModule(const char *module, const char *symbol, const ReadRequest &request)
{
    return throughModule<ChapterList>(module, symbol, request);
}

Expected<QList<qint64>> keyframesThroughModule(const char *module, const char *symbol, const KeyframeRequest &request)
{
    return throughModule<QList<qint64>>(module, symbol, request);
}

} // namespace Tessaline
