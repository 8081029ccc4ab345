// The disk section of the boot check.
#include "check/boot_check.h"

#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "log/log_types.h"

#include <QStringList>

using namespace check_fragments;

bool boot_check::compare_disks(check_sink &sink, const hd_diff *diff)
{
    begin_section(sink, disks_title());
    QStringList shown;
    for (const hd_disk_diff *d = diff ? hd_diff_get_first_disk(diff) : nullptr; d; d = hd_diff_get_next_disk(diff, d)) {
        const hd_disk *reference = d->reference;
        // Changes of a disk the administrator left out of control do not count.
        const bool controlled = reference && (reference->flags & HD_DISK_CONTROL);
        QString line;
        switch (d->status) {
        case HD_NEW:
            line = QStringLiteral(" новый:\n Подключен новый диск.");
            break;
        case HD_REMOVED:
            if (controlled)
                line = QStringLiteral(" удален:\n Диск Удален. ");
            break;
        case HD_MODIFIED: {
            if (!controlled)
                break;
            // The MBR of a disk under control always counts: it is the boot path.
            QString kinds;
            if (d->flags & HD_DISK_DIFF_MBR)
                kinds += QStringLiteral(" MBR модифицирована;");
            if ((d->flags & HD_DISK_DIFF_BOOT_AREA) && (reference->flags & HD_DISK_BOOT_AREA))
                kinds += QStringLiteral(" сектора изменены;");
            // Partitions out of control count with their table entries only.
            if ((reference->flags & HD_DISK_STRUCTURE) && hd_disk_diff_partitions_changed(d))
                kinds += QStringLiteral(" структура изменена;");
            if (!kinds.isEmpty())
                line = QStringLiteral(" модифицирован:\n Диск был модифицирован:") + kinds;
            break;
        }
        default:
            break;
        }
        if (line.isEmpty())
            continue;
        const hd_disk *disk = d->current ? d->current : reference;
        const QString name = QString::fromUtf8(disk && disk->name ? disk->name : "");
        sink.info(disk_line(name, line));
        shown << name;
    }
    if (!diff) {
        // Without a comparison the disks cannot be vouched for.
        sink.info(check_result(false));
        return false;
    }
    if (shown.isEmpty()) {
        sink.info(ok_line());
        return true;
    }
    const uint8_t parameter = 0;
    sink.log_record(LOG_DISK_CHECK, LOG_INTEGRITY_ERROR, &parameter, shown.join(QStringLiteral(", ")));
    return false;
}
