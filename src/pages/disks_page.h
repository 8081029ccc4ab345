// The disks page: the disks tree and, under it, how the stored partition
// tables differ from the disks as they are now.
#ifndef ORVA_PAGES_DISKS_PAGE_H
#define ORVA_PAGES_DISKS_PAGE_H

#include <QWidget>

#include <memory>

class diskTreeWidget;

namespace Ui {
class disks_page;
}

class disks_page : public QWidget {
    Q_OBJECT

public:
    explicit disks_page(QWidget *parent = nullptr);
    ~disks_page() override;

    diskTreeWidget *tree() const;
    QString report_text() const;

private slots:
    void show_report(const QString &report);

private:
    std::unique_ptr<Ui::disks_page> ui;
};

#endif
