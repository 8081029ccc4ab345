#include "module/version.h"

QString version::text()
{
    return QStringLiteral("ORVA v.%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}
