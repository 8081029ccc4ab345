#include "files/dir_cont_tree_view.h"

#include <QContextMenuEvent>
#include <QFileSystemModel>
#include <QMenu>

DirContTreeView::DirContTreeView(QWidget *parent)
    : QTreeView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void DirContTreeView::set_root(const QString &dir)
{
    if (dir == m_root && (m_model || dir.isEmpty()))
        return;
    m_root = dir;
    QFileSystemModel *old = m_model;
    m_model = nullptr;
    if (!dir.isEmpty()) {
        m_model = new QFileSystemModel(this);
        m_model->setReadOnly(true);
        m_model->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        m_model->setRootPath(dir);
    }
    setModel(m_model);
    if (m_model) {
        setRootIndex(m_model->index(dir));
        // Names first: size, kind and date follow.
        setColumnWidth(0, 220);
    }
    delete old;
}

QStringList DirContTreeView::selected_paths() const
{
    QStringList paths;
    if (!m_model || !selectionModel())
        return paths;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        paths << m_model->filePath(index);
    return paths;
}

QString DirContTreeView::current_path() const
{
    return m_model && currentIndex().isValid() ? m_model->filePath(currentIndex()) : QString();
}

void DirContTreeView::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_model)
        return;
    const QModelIndex at = indexAt(event->pos());
    if (at.isValid() && !selectionModel()->isRowSelected(at.row(), at.parent()))
        setCurrentIndex(at);
    QMenu menu(this);
    QAction *add = menu.addAction(QStringLiteral("Добавить файлы"));
    QAction *image = menu.addAction(QStringLiteral("Подключить виртуальный диск"));
    image->setEnabled(at.isValid() && !m_model->isDir(at));
    QAction *chosen = menu.exec(event->globalPos());
    if (chosen == add)
        emit add_files(selected_paths());
    else if (chosen == image)
        emit attach_image(m_model->filePath(at));
}
