#include "namesboxfont.h"

#include <QStringList>

namespace Tessaline {

QFont namesBoxFont()
{
    const QString family = QStringLiteral("宋体");
    static const bool registered = [&] {
        // In order of preference: the Windows faces, then the Song (Ming) faces of Linux
        // distributions.
        QFont::insertSubstitutions(family,
                                   {
                                       QStringLiteral("SimSun"),
                                       QStringLiteral("NSimSun"),
                                       QStringLiteral("Noto Serif CJK SC"),
                                       QStringLiteral("Source Han Serif SC"),
                                       QStringLiteral("AR PL UMing CN"),
                                       QStringLiteral("AR PL SungtiL GB"),
                                       QStringLiteral("Songti SC"),
                                       QStringLiteral("STSong"),
                                   });
        return true;
    }();
    Q_UNUSED(registered);
    return QFont(family, 9);
}

} // namespace Tessaline
