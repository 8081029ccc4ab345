// The registry page: the chosen Windows directory, the registry tree with
// the entries of the registry check list ticked, and the differences the
// registry check found.
#ifndef ORVA_REGISTRY_REGISTRY_PAGE_H
#define ORVA_REGISTRY_REGISTRY_PAGE_H

#include <ic/qt/exchange_dir.h>

#include <QWidget>

#include <memory>

class QAbstractButton;
class registryTreeWidget;

namespace Ui {
class registry_page;
}

class registry_page : public QWidget {
    Q_OBJECT

public:
    explicit registry_page(QWidget *parent = nullptr);
    ~registry_page() override;

    registryTreeWidget *tree() const;
    QAbstractButton *dir_button() const;
    QString dir_text() const;
    QString report_text() const;

    // How a directory reads in the line edit: disk, volume and path.
    static QString describe(const exchange_dir &dir);

public slots:
    // Shows the directory in the line edit (an empty one clears it).
    void show_dir(const exchange_dir &dir);

private slots:
    void show_report(const QString &report);

private:
    std::unique_ptr<Ui::registry_page> ui;
};

#endif
