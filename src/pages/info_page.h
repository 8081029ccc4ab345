// The information page: serial number, version and check sums of the
// protection software, and the summary file "./orvainfo.txt". Also the
// formatting of the module's user database.
#ifndef ORVA_PAGES_INFO_PAGE_H
#define ORVA_PAGES_INFO_PAGE_H

#include <QWidget>

#include <memory>

class orva_information_storage;

namespace Ui {
class info_page;
}

class info_page : public QWidget {
    Q_OBJECT

public:
    explicit info_page(QWidget *parent = nullptr);
    ~info_page() override;

    // Fills the storage, then the page from it and the summary file.
    void setOrvaInformation(orva_information_storage &storage);

    // Asks, closes the open database and erases the module's database, says
    // how it went and ends the program (status 0). Cancel changes nothing.
    void format_db();

private:
    std::unique_ptr<Ui::info_page> ui;
};

#endif
