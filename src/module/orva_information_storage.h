// What the information page shows about the protection software: serial
// number, version and the check sums of the program file. Each value is
// "Неизвестно" until known.
#ifndef ORVA_MODULE_ORVA_INFORMATION_STORAGE_H
#define ORVA_MODULE_ORVA_INFORMATION_STORAGE_H

#include <QString>

class orva_information_storage {
public:
    orva_information_storage();

    // Fills the values; the program file is "orva-ng-gui" in the working
    // directory.
    void load_all();

    const QString &get_serial_number() const { return m_serial; }
    const QString &get_version() const { return m_version; }
    const QString &get_core_md5() const { return m_core_md5; }
    const QString &get_orva_md5() const { return m_orva_md5; }
    const QString &get_core_gost() const { return m_core_gost; }
    const QString &get_orva_gost() const { return m_orva_gost; }

    static QString unknown();

private:
    QString m_serial;
    QString m_version;
    QString m_core_md5;
    QString m_orva_md5;
    QString m_core_gost;
    QString m_orva_gost;
};

#endif
