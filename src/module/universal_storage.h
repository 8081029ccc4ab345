// Export/import storage: a directory files are copied into and fetched from.
#ifndef ORVA_MODULE_UNIVERSAL_STORAGE_H
#define ORVA_MODULE_UNIVERSAL_STORAGE_H

#include <QString>

class universal_storage {
public:
    enum storage_type { TYPE_DEFAULT = 0, TYPE_PATH = 1 };

    universal_storage();

    void set_storage(int type, const QString &path);
    int storage_type() const { return m_type; }
    const QString &storage_path() const { return m_path; }

    // Copies the file at `path` into the storage under its own file name
    // (the text after the last "/", appended to the storage path), replacing
    // an older copy. 0, or 1 when the copy failed.
    int put_data(const QString &path);
    // Copies storage path + `path` to "/tmp/" + its file name. 0 or 1.
    int get_data(const QString &path);

    // Directory get_data copies into ("/tmp/"); tests move it.
    static void set_fetch_directory(const QString &directory);
    static QString fetch_directory();

private:
    int m_type;
    QString m_path;
};

#endif
