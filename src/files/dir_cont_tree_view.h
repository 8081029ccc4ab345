// The files of the selected volume, rooted at its mount directory. Entries
// are dragged onto the check-list tree as local paths; the context menu
// adds the selected entries (add_files) or registers an image file
// (attach_image).
#ifndef ORVA_FILES_DIR_CONT_TREE_VIEW_H
#define ORVA_FILES_DIR_CONT_TREE_VIEW_H

#include <QString>
#include <QStringList>
#include <QTreeView>

class QFileSystemModel;

class DirContTreeView : public QTreeView {
    Q_OBJECT

public:
    explicit DirContTreeView(QWidget *parent = nullptr);

    // Shows the tree below dir; an empty dir lets go of the directory (its
    // model goes, so nothing keeps looking into it).
    void set_root(const QString &dir);
    const QString &root() const { return m_root; }
    QFileSystemModel *fs_model() const { return m_model; }

    // Absolute paths of the selected entries (one per row).
    QStringList selected_paths() const;
    // The path of the current entry, or empty.
    QString current_path() const;

signals:
    void add_files(QStringList paths);
    void attach_image(QString path);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QFileSystemModel *m_model = nullptr;
    QString m_root;
};

#endif
