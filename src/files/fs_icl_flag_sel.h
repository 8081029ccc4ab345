// The flag dialog of an object being put under control: what is checked of
// a file or directory, and for a directory the file masks. Accepting emits
// result(type, flags, masks).
#ifndef ORVA_FILES_FS_ICL_FLAG_SEL_H
#define ORVA_FILES_FS_ICL_FLAG_SEL_H

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class fs_icl_flag_sel;
}

class fs_icl_flag_sel : public QDialog {
    Q_OBJECT

public:
    explicit fs_icl_flag_sel(QWidget *parent = nullptr);
    ~fs_icl_flag_sel() override;

    // The mask line split at every ",", empty parts dropped, nothing else
    // removed; empty means every file.
    static QStringList split_masks(const QString &text);

public slots:
    // type: FS_OCL_TYPE_FILE or FS_OCL_TYPE_DIR. Runs the dialog.
    void showF(int type);
    void accept() override;

signals:
    void result(int type, int flags, QStringList masks);

private:
    std::unique_ptr<Ui::fs_icl_flag_sel> ui;
    int m_type = 0;
};

#endif
