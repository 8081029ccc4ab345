// The files page: the volumes of the computer and of the registered images
// (fs_disk_tree), the files of the selected volume mounted read-only
// (dir_contents), and the reference check list with the results of the
// boot-time check (icl_tree). Everything goes through orva_fun_fs.
#ifndef ORVA_FILES_FILES_PAGE_H
#define ORVA_FILES_FILES_PAGE_H

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_icl.h>
#include <ic/qt/fs_vmdk_image.h>

#include <orva.h>

#include <QList>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>

class DirContTreeView;
class disk_tree_view;
class icl_tree_model;
class icl_tree_view;
class orva_fun_fs;

namespace Ui {
class files_page;
}

class files_page : public QWidget {
    Q_OBJECT

public:
    explicit files_page(QWidget *parent = nullptr);
    // Lets go of its mount, then unmounts every volume and detaches the
    // image disks (the program ends).
    ~files_page() override;

    disk_tree_view *disk_tree() const;
    DirContTreeView *dir_contents() const;
    icl_tree_view *icl_tree() const;
    icl_tree_model *icl_model() const;

    // Opening the administration window the first time: the stored list and
    // images from the module unless the boot-time check has handed them
    // over, the images attached, the trees built.
    void setup(orva_handle_t handle);
    // Entering the page: the trees anew, the selected volume mounted again.
    void enter();
    // Leaving the page: the page's mount is released.
    void leave();

public slots:
    // The volume selected in the disk tree becomes the current one and is
    // shown mounted read-only (null: nothing shown).
    void set_volume(fs_volume *volume);
    // Paths dropped onto the check list: directories with flags 15 and no
    // masks, files with 12.
    void drop_files(QStringList paths);
    // Paths chosen in the directory view: the flag dialog for each.
    void add_files(QStringList paths);
    // The selected entries of the directory view, as add_files.
    void add_selected();
    // The flag dialog's choice for the object asked about.
    void getDirFlag(int type, int flags, QStringList masks);
    // The entry selected in the check-list tree.
    void remove_object();
    // Registering the image file at path (the form asks for its label).
    void attach_image(QString path);
    void attach_current_image();
    void add_vmdk_disk(QString path, QString name);
    // The image disk selected in the disk tree.
    void remove_vmdk_disk();
    void save_fs_info();
    void transfer_icl();
    // Takes the objects of every volume present as they are now.
    void recalc();
    // The boot-time check's data (the results are recorded in orva_fun_fs).
    void receive_data(fs_icl *icl, fs_icl *sessionicl, fs_disk_list *disk_list,
                      QList<fs_vmdk_image> *images, fs_icl_check_info *check);
    // The check list tree anew from the reference list.
    void setup_model();

signals:
    void showFlagSelector(int type);
    void show_vmdk_form(QString path);

private:
    struct flag_choice {
        int flags;
        QStringList masks;
    };
    void add_object(const QString &path, int type, int flags, const QStringList &masks);
    bool under_current_volume(const QString &path) const;
    void release_mount();
    void reload_disks();
    void attach_stored_images();

    std::unique_ptr<Ui::files_page> ui;
    orva_handle_t m_handle = nullptr;
    orva_fun_fs *m_fs = nullptr;
    bool m_data_received = false;
    // The volume shown in dir_contents, and whether the page holds a
    // mount use of it.
    fs_volume *m_shown = nullptr;
    bool m_holds_use = false;
    std::optional<flag_choice> m_choice;
};

#endif
