#include "windowlanguage.h"

#include <QCoreApplication>
#include <QTranslator>

namespace Tessaline {

bool installWindowTranslator()
{
    // The application owns the translator: it is used until the program ends.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral(":/i18n/tessaline_zh_CN.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace Tessaline
