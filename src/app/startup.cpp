#include "app/startup.h"

#include "module/meta_types.h"

#include <ic/qt/fs_vmdk_image.h>

#include <QApplication>
#include <QFile>
#include <QTranslator>

namespace startup {

void apply_style_sheet(QApplication &app, const QString &resource)
{
    QFile file(resource);
    QString style;
    if (file.open(QIODevice::ReadOnly))
        style = QString::fromUtf8(file.readAll());
    // One application of the sheet and its focus rule: each one re-polishes
    // every widget.
    app.setStyleSheet(style + QLatin1String(kFocusRule));
}

bool install_translation(QApplication &app, const QString &resource)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(resource)) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

void register_meta_types()
{
    register_module_meta_types();
    // By name, so that variants of them read back from a data stream; the
    // stream operators come with the types.
    qRegisterMetaType<fs_vmdk_image>("fs_vmdk_image");
    qRegisterMetaType<QList<fs_vmdk_image>>("QList<fs_vmdk_image>");
}

} // namespace startup
