// The registry section over a name space that refused a hive while it was
// built: the refusal is a failing line of the report and of the event log.
#include "check/boot_check.h"
#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "log/log_types.h"
#include "log_build.h"
#include "simcomputer/regf.h"

#include <ic/rcl/rcl.h>
#include <ic/reg/reg.h>

#include <QtTest>

#include <fstream>
#include <iterator>
#include <memory>
#include <utility>

namespace {

struct recording_sink final : check_sink {
    QStringList fragments;
    QStringList records;
    void info(const QString &fragment) override { fragments << fragment; }
    void log_record(uint32_t type, uint32_t result, const void *, const QString &text) override
    {
        records << QStringLiteral("%1 %2 %3").arg(type).arg(result).arg(text);
    }
    void file_record(const QString &, uint32_t) override {}
};

// The hive file at path marked half-written: its sequence numbers differ.
bool half_written(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 512)
        return false;
    const uint32_t secondary = regtest::get32(bytes, 8);
    bytes = regtest::with_sequence(std::move(bytes), secondary + 1, secondary);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

} // namespace

class check_registry_problems_test : public QObject {
    Q_OBJECT

private slots:
    void half_written_hive_without_log_fails_the_section();
};

void check_registry_problems_test::half_written_hive_without_log_fails_the_section()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string root = QFile::encodeName(dir.path()).toStdString();
    std::string message;
    QVERIFY2(simcomputer::write_windows(simcomputer::Windows::with_defaults("/Windows"), root, message),
             message.c_str());
    QVERIFY(half_written(root + "/Windows/System32/config/SOFTWARE"));
    reg *raw_space = nullptr;
    QCOMPARE(create_winreg_in(root.c_str(), "/Windows", &raw_space), 0);
    std::unique_ptr<reg, void (*)(reg *)> space(raw_space, reg_destroy);
    rcl *raw_list = nullptr;
    QCOMPARE(rcl_create(&raw_list), 0);
    std::unique_ptr<rcl, void (*)(rcl *)> list(raw_list, rcl_destroy);
    QCOMPARE(rcl_add_value_u8(list.get(), space.get(), "\\REGISTRY\\MACHINE\\SYSTEM\\Select", "Default", 0x60, nullptr),
             0);

    recording_sink sink;
    QVERIFY(!boot_check::compare_registry(sink, list.get(), space.get()));
    const QString line = QStringLiteral("Куст реестра /Windows/System32/config/SOFTWARE сохранён не полностью, а "
                                        "журнала транзакций для его восстановления нет или он повреждён.");
    QCOMPARE(sink.fragments,
             (QStringList{check_fragments::section_title(QStringLiteral("Контроль целостности реестра")),
                          check_fragments::reg_problem_line(line), check_fragments::check_result(false)}));
    QCOMPARE(sink.records, QStringList{QStringLiteral("%1 %2 %3").arg(LOG_REGISTRY_CHECK).arg(0x20000).arg(line)});
}

QTEST_GUILESS_MAIN(check_registry_problems_test)
#include "check_registry_problems_test.moc"
