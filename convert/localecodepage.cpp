#include "localecodepage.h"

#include <QtGlobal>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

namespace Tessaline {

namespace {

struct LocaleCodePage
{
    std::string_view locale; // Windows spelling: language[-Script][-REGION]
    int codePage;
};

constexpr LocaleCodePage kLocaleCodePages[] = {
#include "localecodepagetable.inc"
};

constexpr int kFallbackCodePage = 1252; // en-US

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool lessIgnoringCase(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lowerAscii(x) < lowerAscii(y); });
}

std::optional<int> lookUp(std::string_view name)
{
    const auto found = std::lower_bound(
        std::begin(kLocaleCodePages), std::end(kLocaleCodePages), name,
        [](const LocaleCodePage &row, std::string_view key) { return lessIgnoringCase(row.locale, key); });
    if (found == std::end(kLocaleCodePages) || lessIgnoringCase(name, found->locale))
        return std::nullopt;
    return found->codePage;
}

// "lang_CC.charset@modifier" to "lang[-Script]-CC".
QByteArray windowsLocaleName(QStringView posixLocale)
{
    QStringView rest = posixLocale;
    QStringView modifier;
    if (const qsizetype at = rest.indexOf(QLatin1Char('@')); at >= 0) {
        modifier = rest.mid(at + 1);
        rest = rest.left(at);
    }
    if (const qsizetype dot = rest.indexOf(QLatin1Char('.')); dot >= 0)
        rest = rest.left(dot);

    const qsizetype underscore = rest.indexOf(QLatin1Char('_'));
    QString name = rest.left(underscore).toString();
    if (modifier == u"latin")
        name += QStringLiteral("-Latn");
    else if (modifier == u"cyrillic")
        name += QStringLiteral("-Cyrl");
    if (underscore >= 0)
        name += QLatin1Char('-') + rest.mid(underscore + 1);
    return name.toLatin1();
}

} // namespace

int ansiCodePageForLocale(QStringView posixLocale)
{
    QByteArray name = windowsLocaleName(posixLocale);
    while (!name.isEmpty()) {
        if (const auto codePage = lookUp(std::string_view(name.constData(), size_t(name.size()))))
            return *codePage;
        const qsizetype dash = name.lastIndexOf('-');
        name.truncate(dash < 0 ? 0 : dash);
    }
    return kFallbackCodePage;
}

int ansiCodePageFromEnvironment()
{
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return ansiCodePageForLocale(value);
    }
    return kFallbackCodePage;
}

} // namespace Tessaline
