#include "codepage.h"

namespace Tessaline {

QString CodePage::decoded(QByteArrayView bytes)
{
    QString text;
    decode(bytes, text, true);
    return text;
}

QByteArray CodePage::encoded(QStringView text)
{
    QByteArray bytes;
    encode(text, bytes, true);
    return bytes;
}

} // namespace Tessaline
