// Trace line "%1:%2:%3::" (source line, source file, function) on the debug
// output. More text may follow: ORVA_TRACE() << "detail";
// The build maps the source directory away, so the file reads "src/...".
#ifndef ORVA_UI_TRACE_H
#define ORVA_UI_TRACE_H

#include <QDebug>
#include <QString>

#define ORVA_TRACE()                                                                   \
    (qDebug().noquote() << QStringLiteral("%1:%2:%3::")                                \
                               .arg(__LINE__)                                          \
                               .arg(QLatin1String(__FILE__), QLatin1String(__func__)))

#endif
