#include "files/icl_tree_view.h"

#include "files/icl_tree_model.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace {

QStringList local_paths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime)
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

} // namespace

icl_tree_view::icl_tree_view(QWidget *parent)
    : QTreeView(parent)
{
    setDragDropMode(QAbstractItemView::DropOnly);
    // Drops arrive at the viewport.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setModel(new icl_tree_model(this));
}

icl_tree_model *icl_tree_view::icl_model() const
{
    return qobject_cast<icl_tree_model *>(model());
}

void icl_tree_view::dragEnterEvent(QDragEnterEvent *event)
{
    if (local_paths(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void icl_tree_view::dragMoveEvent(QDragMoveEvent *event)
{
    if (local_paths(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void icl_tree_view::dropEvent(QDropEvent *event)
{
    const QStringList paths = local_paths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit dropped(paths);
}

void icl_tree_view::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex at = indexAt(event->pos());
    if (!at.isValid())
        return;
    setCurrentIndex(at);
    QMenu menu(this);
    QAction *remove = menu.addAction(QStringLiteral("Убрать из СКЦ"));
    if (menu.exec(event->globalPos()) == remove)
        emit remove_object();
}
