#include "menu/menu.h"

#include "menu/choose_boot_device.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "ui/trace.h"

#include "ui_menu.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLayout>
#include <QProcess>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTimer>

namespace {

QString &boot_file()
{
    static QString path = QStringLiteral("/tmp/boot_file");
    return path;
}

} // namespace

Menu::Menu(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::Menu>())
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    ui->info->setTabStopDistance(40);
    // White although read-only (the style sheet of the view says the same).
    QPalette palette = ui->info->palette();
    palette.setColor(QPalette::Base, Qt::white);
    ui->info->setPalette(palette);
    ui->login_as_admin->hide();
    ui->proceed->hide();
    connect(ui->reboot, &QPushButton::clicked, this, &Menu::reboot_clicked);
    connect(ui->login_as_admin, &QPushButton::clicked, this, &Menu::login_as_admin_clicked);
}

Menu::~Menu()
{
    close();
}

QString Menu::boot_file_path()
{
    return boot_file();
}

void Menu::set_boot_file_path(const QString &path)
{
    boot_file() = path;
}

void Menu::show_menu(orva_handle_t handle, orva_tmid tmid)
{
    m_handle = handle;
    m_tmid = tmid;
    show_menu();
    emit started();
}

void Menu::show_menu()
{
    show();
    activateWindow();
    setFocus();
    const QString name = orva_fun_db::object()->current_user_name();
    if (name == QLatin1String(db_record::kSupervisor))
        setWindowTitle(QStringLiteral("Добро пожаловать, Гл.Администратор! Выберите действие:"));
    else
        setWindowTitle(QStringLiteral("Добро пожаловать, %1! Выберите следующее действие:").arg(name));
}

namespace {

// The HTML of the document's last paragraph alone.
QString last_paragraph_html(QTextDocument *doc)
{
    QTextCursor last(doc);
    last.movePosition(QTextCursor::End);
    last.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    QTextDocument copy;
    copy.setDefaultFont(doc->defaultFont());
    QTextCursor(&copy).insertFragment(QTextDocumentFragment(last));
    return copy.toHtml();
}

} // namespace

void Menu::show_info(QString &text)
{
    QTextDocument *doc = ui->info->document();
    if (doc->isEmpty()) {
        ui->info->setHtml(doc->toHtml() + text);
    } else {
        // The text is parsed as it would be after the report's HTML, with the
        // last paragraph standing for the report, and its paragraphs are
        // appended: the report is not written out and parsed again for every
        // fragment (a check reports one line per file).
        QTextDocument part;
        part.setDefaultFont(doc->defaultFont());
        part.setHtml(last_paragraph_html(doc) + text);
        QTextCursor added(&part);
        if (added.movePosition(QTextCursor::NextBlock)) {
            added.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            QTextCursor end(doc);
            end.movePosition(QTextCursor::End);
            end.insertBlock(added.blockFormat(), added.charFormat());
            end.insertFragment(QTextDocumentFragment(added));
        }
    }
    QTextCursor cursor = ui->info->textCursor();
    cursor.movePosition(QTextCursor::End);
    ui->info->setTextCursor(cursor);
}

void Menu::show_login_as_admin(bool ok)
{
    // A reboot asked for while the check ran (its sections let keys and
    // clicks through) is not overridden by a hand-off.
    if (m_reboot_requested)
        return;
    uint8_t admin = 0;
    orva_get_current_user(m_handle, nullptr, &admin);
    if (admin) {
        ui->proceed->show();
        ui->login_as_admin->show();
        fit_buttons();
        return;
    }
    if (!ok)
        return;
    ui->proceed->show();
    fit_buttons();
    auto *close_timer = new QTimer(this);
    close_timer->setObjectName(QStringLiteral("close_timer"));
    close_timer->setSingleShot(true);
    connect(close_timer, &QTimer::timeout, this, &QWidget::close);
    close_timer->start(kCloseDelayMs);
    do_kexec();
}

void Menu::fit_buttons()
{
    // Buttons shown after construction: a style sheet's min-width is taken as
    // their minimum, which would let the layout cut their texts. Their hints
    // are the minimum, and the menu widens at once.
    for (QPushButton *button : {ui->login_as_admin, ui->proceed, ui->reboot})
        button->setMinimumWidth(button->sizeHint().width());
    layout()->activate();
    resize(size().expandedTo(minimumSizeHint()));
}

void Menu::login_as_admin_clicked()
{
    emit finished(m_handle, m_tmid);
    close();
}

void Menu::on_proceed_clicked()
{
    hide();
    choose_boot_device dialog(QStringList(), nullptr);
    if (dialog.exec() == QDialog::Accepted) {
        m_boot_mode = dialog.boot_mode();
        do_kexec();
    } else {
        show();
    }
}

void Menu::reboot_clicked()
{
    m_reboot_requested = true;
    QApplication::exit(0);
}

void Menu::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape ||
        (event->key() == Qt::Key_Delete && mods == (Qt::ControlModifier | Qt::AltModifier)))
        reboot_clicked();
    // Every other key is dropped: no default button, no Escape-to-close.
}

void Menu::do_kexec()
{
    ORVA_TRACE();
    orva_fun_db::object()->close_db();
    orva_fun_db::object()->set_iadata();
    orva_fun_low_level::object()->log_out();
    orva_initialization::object()->exit();
    switch (m_boot_mode) {
    case choose_boot_device::BOOT_HARD_DISK: {
        qDebug() << "./kexeck";
        QProcess::execute(QStringLiteral("./kexec"), QStringList());
        QFile marker(boot_file_path());
        if (marker.open(QIODevice::WriteOnly))
            marker.close();
        break;
    }
    case choose_boot_device::BOOT_CDROM:
        QProcess::execute(QStringLiteral("./kexec-boot-from-cd"), QStringList());
        break;
    case choose_boot_device::BOOT_CDROM_EMULATOR_RAM:
        QProcess::startDetached(QStringLiteral("./kexec-boot-from-cd-emul-ram"), QStringList());
        break;
    default:
        break;
    }
    // exit, not quit: quit would first try to close every window.
    QApplication::exit(0);
}
