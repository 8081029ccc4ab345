// The directory dialog on a simulated computer: choosing a directory of a
// volume, what it mounts and releases, and its two instances in the program
// (the registry directory and the export/import directory).
#include "admin/choose_dir_dialog.h"
#include "admin/main_window.h"
#include "files/disk_tree_view.h"
#include "pages/export_page.h"
#include "registry/registry_page.h"
#include "registry/registry_tree_widget.h"
#include "support/check_computer.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/ic_holders.h>
#include <ic/qt/orva_fun_fs.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

namespace {

const char kDataUuid[] = "3f5d6a2e-8c41-4b7e-9a0d-2c6e1b9f7a10";

// A second disk: the Windows volume and a data volume (ext2; this kernel has
// no FAT driver).
const char kDisk[] = "disk sdb size=64M controller=0000:00:1f.2 vendor=ATA model=WINDISK serial=W0001\n"
                     "  part 1 start=1M size=40M type=7\n"
                     "    fs ntfs uuid=0B7C6A523E1F4D2A\n"
                     "      windows /Windows\n"
                     "  part 2 start=41M size=16M\n"
                     "    fs ext2 uuid=3f5d6a2e-8c41-4b7e-9a0d-2c6e1b9f7a10\n"
                     "      dir /EXPORT/ORVA\n";

fs_volume *volume(const char *uuid)
{
    orva_fun_fs *fs = orva_fun_fs::object();
    return fs ? find_volume_by_volume_id(fs->disk_list(), QLatin1String(uuid)) : nullptr;
}

QPushButton *button(choose_dir_dialog &d, const char *name)
{
    return d.findChild<QPushButton *>(QLatin1String(name));
}

// The top-level dialog of that mount mode.
choose_dir_dialog *dialog(bool writable)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *d = qobject_cast<choose_dir_dialog *>(w);
        if (d && d->writable() == writable)
            return d;
    }
    return nullptr;
}

// Chooses the directory of the volume in a shown dialog and presses OK.
bool choose(choose_dir_dialog &d, const char *uuid, const QString &path)
{
    if (!d.isVisible() || !d.disk_tree()->select_volume(volume(uuid)) || !d.select_dir(path))
        return false;
    QTest::mouseClick(button(d, "ok_button"), Qt::LeftButton);
    return !d.isVisible();
}

} // namespace

class choose_dir_dialog_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (geteuid() != 0)
            QSKIP("needs root: the volumes are mounted through loop devices");
    }

    void choose_a_directory();
    void export_choice_held_by_the_page();
    void both_instances_in_the_program();
};

void choose_dir_dialog_test::choose_a_directory()
{
    app_guard app;
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), QLatin1String(kDisk)));
    QVERIFY(computer.attach_loops());
    scripted_responder responder;
    choose_dir_dialog d(nullptr, false);
    QCOMPARE(d.windowTitle(), QStringLiteral("Выберите каталог"));
    QCOMPARE(button(d, "ok_button")->text(), QStringLiteral("OK"));
    QCOMPARE(button(d, "cancel_button")->text(), QStringLiteral("Отмена"));
    QSignalSpy chosen(&d, &choose_dir_dialog::save_changes);
    d.show();
    fs_volume *windows = volume(kWindowsUuid);
    fs_volume *data = volume(kDataUuid);
    QVERIFY(windows && data);
    QVERIFY(d.dir_tree()->isHidden());

    // OK before a directory is chosen.
    QTest::mouseClick(button(d, "ok_button"), Qt::LeftButton);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Каталог не выбран"));
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Выберите каталог для сохранения."));
    QVERIFY(d.isVisible());
    QVERIFY(chosen.isEmpty());

    // A volume selected: mounted and its directories shown; another one
    // selected instead: the first is released.
    QVERIFY(d.disk_tree()->select_volume(data));
    QCOMPARE(data->mount_count, 1);
    QVERIFY(!d.dir_tree()->isHidden());
    QTest::mouseClick(button(d, "ok_button"), Qt::LeftButton);
    QCOMPARE(responder.boxes().size(), 2);
    QVERIFY(chosen.isEmpty());
    QVERIFY(d.select_dir(QStringLiteral("/EXPORT/ORVA")));
    QVERIFY(!d.select_dir(QStringLiteral("/nowhere")));
    QVERIFY(d.disk_tree()->select_volume(windows));
    QCOMPARE(data->mount_count, 0);
    QCOMPARE(windows->mount_count, 1);

    QVERIFY(d.select_dir(QStringLiteral("/Windows")));
    QTest::mouseClick(button(d, "ok_button"), Qt::LeftButton);
    QCOMPARE(chosen.size(), 1);
    const auto dir = chosen.first().first().value<exchange_dir>();
    QCOMPARE(dir.disk, QStringLiteral("W0001"));
    QCOMPARE(dir.part_id, QLatin1String(kWindowsUuid));
    QCOMPARE(dir.path, QStringLiteral("/Windows"));
    QCOMPARE(dir.volume, windows);
    QCOMPARE(windows->rw_mount_count, 0);
    QVERIFY(!d.isVisible());
    QCOMPARE(windows->mount_count, 0);

    // Cancel: nothing chosen, nothing left mounted.
    d.show();
    QVERIFY(d.disk_tree()->select_volume(data));
    QTest::mouseClick(button(d, "cancel_button"), Qt::LeftButton);
    QVERIFY(!d.isVisible());
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(data->mount_count, 0);
}

void choose_dir_dialog_test::export_choice_held_by_the_page()
{
    app_guard app;
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), QLatin1String(kDisk)));
    QVERIFY(computer.attach_loops({QStringLiteral("sdb2")}));
    fs_volume *data = nullptr;
    {
        export_page page;
        choose_dir_dialog d(nullptr, true);
        connect(&d, &choose_dir_dialog::save_changes, &page,
                qOverload<const exchange_dir &>(&export_page::set_exchange_dir));
        d.show();
        data = volume(kDataUuid);
        // Browsed read-only; the page keeps the chosen volume mounted (read-
        // only: an export makes a read-write mount of its own).
        QVERIFY(choose(d, kDataUuid, QStringLiteral("/EXPORT")));
        QCOMPARE(data->mount_count, 1);
        QCOMPARE(data->rw_mount_count, 0);
        const QString mount = QString::fromUtf8(data->mount_dir);
        QCOMPARE(page.master().storage().storage_path(), mount + QStringLiteral("/EXPORT/"));
        // The storage is there, also after a choice cancelled ...
        d.show();
        QVERIFY(d.disk_tree()->select_volume(volume(kWindowsUuid)));
        QTest::mouseClick(button(d, "cancel_button"), Qt::LeftButton);
        QCOMPARE(data->mount_count, 1);
        QVERIFY(QFileInfo(mount + QStringLiteral("/EXPORT/ORVA")).isDir());
        QCOMPARE(volume(kWindowsUuid)->mount_count, 0);
        // ... and the same volume chosen again keeps its mount; its root
        // gives a clean path.
        d.show();
        QVERIFY(choose(d, kDataUuid, QStringLiteral("/")));
        QCOMPARE(data->mount_count, 1);
        QCOMPARE(QString::fromUtf8(data->mount_dir), mount);
        QCOMPARE(page.master().storage().storage_path(), mount + QLatin1Char('/'));
    }
    // Released with the page.
    QCOMPARE(data->mount_count, 0);
}

void choose_dir_dialog_test::both_instances_in_the_program()
{
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), QLatin1String(kDisk)));
    QVERIFY(computer.attach_loops({QStringLiteral("sdb2")}));
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_administration(module);
        QVERIFY(w);
        choose_dir_dialog *registry_dialog = dialog(false);
        choose_dir_dialog *export_dialog = dialog(true);
        QVERIFY(registry_dialog && export_dialog);
        QVERIFY(!registry_dialog->isVisible() && !export_dialog->isVisible());

        // The registry page's button: the registry directory.
        QTest::keyClick(w, Qt::Key_6, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_REGISTRY));
        QTest::mouseClick(w->registry()->dir_button(), Qt::LeftButton);
        QVERIFY(registry_dialog->isVisible());
        QVERIFY(choose(*registry_dialog, kWindowsUuid, QStringLiteral("/Windows")));
        QVERIFY(w->registry()->dir_text().endsWith(QStringLiteral(": /Windows")));
        QVERIFY(w->registry()->dir_text().startsWith(QStringLiteral("W0001, ")));
        registryTreeWidget *tree = w->registry()->tree();
        QVERIFY(tree->find_item(QStringLiteral("\\REGISTRY\\MACHINE\\SYSTEM\\Select")));
        QVERIFY(ic_holders::object().reg.flag());
        // The dialog's own mount went; the page keeps one.
        QCOMPARE(volume(kWindowsUuid)->mount_count, 1);

        // The export page's directory on a hard-disk partition.
        emit w->itemSelectedModes(MainWindow::MODE_EXPORT_IMPORT);
        QAction *choose_dir = w->page_actions(MainWindow::MODE_EXPORT_IMPORT).first();
        w->exchange()->choose_storage(export_page::STORAGE_DISK);
        QVERIFY(choose_dir->isEnabled());
        choose_dir->trigger();
        QVERIFY(export_dialog->isVisible());
        QVERIFY(choose(*export_dialog, kDataUuid, QStringLiteral("/EXPORT/ORVA")));
        fs_volume *data = volume(kDataUuid);
        QCOMPARE(data->mount_count, 1);
        QCOMPARE(data->rw_mount_count, 0);
        export_import_master &master = w->exchange()->master();
        QVERIFY(master.is_storage_set());
        QCOMPARE(master.storage().storage_path(),
                 QString::fromUtf8(data->mount_dir) + QStringLiteral("/EXPORT/ORVA/"));

        // An NTFS partition is refused; the storage stays.
        fs_volume ntfs = *data;
        char type[] = "ntfs";
        ntfs.fs_type = type;
        exchange_dir place;
        place.path = QStringLiteral("/data");
        place.volume = &ntfs;
        const QString before = master.storage().storage_path();
        w->set_export_import_dir(place);
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Экспорт/Импорт"));
        QCOMPARE(responder.boxes().last().text,
                 QStringLiteral("Необходимо использовать раздел с файловой системой FATxx/ExtX."));
        QCOMPARE(master.storage().storage_path(), before);
    });
    QCOMPARE(code, kEndedByTest);
    // The dialogs and the registry page have gone with the program.
    QCOMPARE(volume(kDataUuid)->mount_count, 0);
    QCOMPARE(volume(kWindowsUuid)->mount_count, 0);
}

QTEST_APPLESS_MAIN(choose_dir_dialog_test)
#include "choose_dir_dialog_test.moc"
