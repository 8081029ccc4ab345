// The settings page: the module's logon configuration (identifier page,
// identifier and password time-outs, failed logons allowed), the watchdog
// time-out and the session's NIRUN switch. Values are read from and written
// to the module on each use; the page keeps no copy.
#ifndef ORVA_PAGES_SETTINGS_PAGE_H
#define ORVA_PAGES_SETTINGS_PAGE_H

#include <QWidget>

#include <memory>

namespace Ui {
class settings_page;
}

class settings_page : public QWidget {
    Q_OBJECT

public:
    explicit settings_page(QWidget *parent = nullptr);
    ~settings_page() override;

    // Reads each value from the module; a failed read is shown and leaves its
    // control as it was.
    void load();
    // Writes the NIRUN switch and the five values in order, stopping at the
    // first failure (shown). True when all were written.
    bool save_config();
    // Asks, then generates and stores a new workstation key.
    void gen_ws_key();

signals:
    // A value or the NIRUN switch was changed.
    void changed();

private:
    std::unique_ptr<Ui::settings_page> ui;
};

#endif
