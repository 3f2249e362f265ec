#pragma once

#include <QString>

#include <optional>

namespace Tessaline {

// A BCP 47 language tag written as mkvmerge reads it back (language[-extlang][-Script][-REGION]
// [-variant...][-extension...][-x-private...]), checked against the IANA registry:
//  - the language an ISO 639 code of two or three letters, the shortest form kept ("ger" and
//    "deu" give "de"), ISO 639-2 codes such as zxx, mul, tlh and qaa-qtz accepted;
//  - a language with an extended subtag written as that subtag alone ("zh-yue" gives "yue");
//  - the region two letters or three digits (es-419), replaced where the registry says so;
//  - variants and the t and u extensions each at most once, extensions in order of their letter;
//  - the registry's whole tags (i-klingon, sgn-BE-FR, zh-min-nan) replaced by their successors.
// Case as the registry writes it. Nothing for a tag that is not well formed or not registered.
std::optional<QString> canonicalLanguageTag(QStringView tag);

// The ISO 639-2 (bibliographic) code of a canonical tag's language, for the older of Matroska's
// two language fields: a language written with an extended subtag gives its prefix's code (yue
// gives chi, ase gives sgn); und when ISO 639-2 has none.
QString iso639Part2Code(const QString &canonicalTag);

} // namespace Tessaline
