#include "languagetag.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace Tessaline {

namespace {

using Replacement = std::pair<std::string_view, std::string_view>;
#include "languagesubtags.inc"

constexpr std::string_view kIso639Part2[] = {
#include "iso639table.inc"
};

template<typename Table> bool contains(const Table &sorted, std::string_view key)
{
    return std::binary_search(std::begin(sorted), std::end(sorted), key);
}

// What the table gives for key; empty when key is not in it.
template<typename Table> std::string_view replacement(const Table &sorted, std::string_view key)
{
    const auto found = std::lower_bound(std::begin(sorted), std::end(sorted), key,
                                        [](const Replacement &entry, std::string_view k) { return entry.first < k; });
    return found != std::end(sorted) && found->first == key ? found->second : std::string_view();
}

// The registry's entry for a whole tag in lower case; null when it has none.
const Replacement *wholeTag(std::string_view tag)
{
    const auto found = std::find_if(std::begin(kWholeTags), std::end(kWholeTags),
                                    [&](const Replacement &entry) { return entry.first == tag; });
    return found != std::end(kWholeTags) ? found : nullptr;
}

// The tag is in lower case by now: subtags are letters a-z and digits.
bool isLetter(char c)
{
    return c >= 'a' && c <= 'z';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAlphabetic(std::string_view part, size_t from, size_t to)
{
    return part.size() >= from && part.size() <= to && std::all_of(part.begin(), part.end(), isLetter);
}

bool isAlphanumeric(std::string_view part, size_t from, size_t to)
{
    return part.size() >= from && part.size() <= to
        && std::all_of(part.begin(), part.end(), [](char c) { return isLetter(c) || isDigit(c); });
}

QString text(std::string_view part)
{
    return QString::fromLatin1(part.data(), qsizetype(part.size()));
}

// The language subtag, in its shortest form; empty when it is not a known one.
QString canonicalLanguage(std::string_view language)
{
    if (!isAlphabetic(language, 2, 3))
        return {};
    if (const std::string_view successor = replacement(kLanguageReplacements, language); !successor.empty())
        return text(successor);
    const QLocale::Language known = QLocale::codeToLanguage(text(language));
    if (const QString shortest = QLocale::languageToCode(known, QLocale::ISO639Part1);
        known != QLocale::AnyLanguage && !shortest.isEmpty())
        return shortest;
    if (known != QLocale::AnyLanguage || contains(kLanguages, language) || contains(kIso639Part2, language))
        return text(language);
    return {};
}

// Parses parts[at...] as extensions and private use, lower-case, the extensions put in order of
// their letter; false when they are not well formed or an extension is not registered.
bool appendExtensions(const std::vector<std::string_view> &parts, size_t at, QString &tag)
{
    QStringList extensions;
    while (at < parts.size() && parts[at].size() == 1 && parts[at] != "x") {
        const std::string_view singleton = parts[at];
        if ((singleton != "t" && singleton != "u")
            || std::any_of(extensions.cbegin(), extensions.cend(),
                           [&](const QString &e) { return e.startsWith(text(singleton)); }))
            return false;
        QString extension = text(singleton);
        for (++at; at < parts.size() && isAlphanumeric(parts[at], 2, 8); ++at)
            extension += u'-' + text(parts[at]);
        if (!extension.contains(u'-'))
            return false;
        extensions << extension;
    }
    extensions.sort();
    for (const QString &extension : std::as_const(extensions))
        tag += u'-' + extension;
    if (at < parts.size() && parts[at] == "x") {
        if (++at == parts.size())
            return false;
        tag += QStringLiteral("-x");
        for (; at < parts.size() && isAlphanumeric(parts[at], 1, 8); ++at)
            tag += u'-' + text(parts[at]);
    }
    return at == parts.size();
}

} // namespace

std::optional<QString> canonicalLanguageTag(QStringView tag)
{
    if (tag.isEmpty() || std::any_of(tag.begin(), tag.end(), [](QChar c) { return c.unicode() > 0x7F; }))
        return std::nullopt;
    const QByteArray lower = tag.toLatin1().toLower();
    const std::string_view whole(lower.constData(), size_t(lower.size()));
    if (const Replacement *found = wholeTag(whole))
        return found->second.empty() ? text(whole) : canonicalLanguageTag(text(found->second));

    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= whole.size();) {
        const size_t end = std::min(whole.find('-', start), whole.size());
        parts.push_back(whole.substr(start, end - start));
        start = end + 1;
    }
    if (parts.front() == "x") {
        QString privateUse;
        return appendExtensions(parts, 0, privateUse) ? std::optional(privateUse.sliced(1)) : std::nullopt;
    }
    QString canonical = canonicalLanguage(parts.front());
    if (canonical.isEmpty())
        return std::nullopt;
    size_t at = 1;
    if (at < parts.size() && isAlphabetic(parts[at], 3, 3)) {
        if (text(replacement(kExtlangPrefixes, parts[at])) != canonical)
            return std::nullopt;
        canonical = text(parts[at++]);
    }
    if (at < parts.size() && isAlphabetic(parts[at], 4, 4) && contains(kScripts, parts[at])) {
        const QString script = text(parts[at++]);
        canonical += u'-' + script.first(1).toUpper() + script.sliced(1);
    }
    if (at < parts.size()
        && (isAlphabetic(parts[at], 2, 2)
            || (parts[at].size() == 3 && std::all_of(parts[at].begin(), parts[at].end(), isDigit)))
        && contains(kRegions, parts[at])) {
        const std::string_view successor = replacement(kRegionReplacements, parts[at]);
        canonical += u'-' + (successor.empty() ? text(parts[at]).toUpper() : text(successor));
        ++at;
    }
    QStringList variants;
    for (; at < parts.size() && contains(kVariants, parts[at]); ++at) {
        if (variants.contains(text(parts[at])))
            return std::nullopt;
        variants << text(parts[at]);
        canonical += u'-' + variants.last();
    }
    return appendExtensions(parts, at, canonical) ? std::optional(canonical) : std::nullopt;
}

QString iso639Part2Code(const QString &canonicalTag)
{
    // A whole tag that stands as it is (i-default, zh-min) names no language of ISO 639-2.
    if (wholeTag(canonicalTag.toLatin1().toStdString()))
        return QStringLiteral("und");
    const QByteArray language = canonicalTag.section(u'-', 0, 0).toLatin1();
    const std::string_view prefix = replacement(kExtlangPrefixes, std::string_view(language.constData()));
    const QString code = prefix.empty() ? QString::fromLatin1(language) : text(prefix);
    const QLocale::Language known = QLocale::codeToLanguage(code);
    if (const QString bibliographic = QLocale::languageToCode(known, QLocale::ISO639Part2B);
        known != QLocale::AnyLanguage && !bibliographic.isEmpty())
        return bibliographic;
    return contains(kIso639Part2, code.toLatin1().toStdString()) ? code : QStringLiteral("und");
}

} // namespace Tessaline
