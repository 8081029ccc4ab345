// Registration of a virtual-disk image file: asks for the image's label and
// emits add_vmdk_disk(image path, label) for a label that is not empty and
// not used by another image disk.
#ifndef ORVA_FILES_ADD_VMDK_IMAGE_FORM_H
#define ORVA_FILES_ADD_VMDK_IMAGE_FORM_H

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class add_vmdk_image_form;
}

class add_vmdk_image_form : public QDialog {
    Q_OBJECT

public:
    explicit add_vmdk_image_form(QWidget *parent = nullptr);
    ~add_vmdk_image_form() override;

public slots:
    // Runs the dialog for the image file at path.
    void show_form(QString path);
    void accept() override;

signals:
    void add_vmdk_disk(QString path, QString name);

private:
    std::unique_ptr<Ui::add_vmdk_image_form> ui;
    QString m_path;
};

#endif
