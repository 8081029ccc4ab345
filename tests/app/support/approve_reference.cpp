// Stores the computer of ORVA_SYSROOT as the reference of the module in
// ORVA_SIM_DIR: its hardware and its partition tables, every class, device,
// parameter and disk under control; with --registry, the registry keys
// (whole sub-trees) and values of the Windows directory DIR on the volume of
// file-system UUID; with --files, files of such a volume (contents and
// attributes). For demos, tests and scripted set-ups.
//
// usage: check_approve_reference [--registry UUID DIR PATH[:VALUE]...] [--files UUID PATH...]
#include "support/check_computer.h"
#include "support/sim_module.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Each option takes the arguments up to the next one.
    QStringList registry, files;
    QStringList *group = nullptr;
    bool usage = false;
    for (const QString &arg : app.arguments().mid(1)) {
        if (arg == QLatin1String("--registry"))
            group = &registry;
        else if (arg == QLatin1String("--files"))
            group = &files;
        else if (group)
            *group << arg;
        else
            usage = true;
    }
    if (usage || (!registry.isEmpty() && registry.size() < 3) || (!files.isEmpty() && files.size() < 2)) {
        std::fprintf(stderr, "usage: check_approve_reference [--registry UUID DIR PATH[:VALUE]...] [--files UUID PATH...]\n");
        return 2;
    }
    module_session session;
    if (!session.ok()) {
        std::fprintf(stderr, "approve_reference: the module cannot be opened (code %d)\n", session.code());
        return 1;
    }
    if (!approve_hardware(session.handle())) {
        std::fprintf(stderr, "approve_reference: the hardware could not be stored\n");
        return 1;
    }
    if (!approve_disks(session.handle())) {
        std::fprintf(stderr, "approve_reference: the partition tables could not be stored\n");
        return 1;
    }
    if (!registry.isEmpty() && !approve_registry(session.handle(), registry[0], registry[1], registry.mid(2))) {
        std::fprintf(stderr, "approve_reference: the registry could not be stored\n");
        return 1;
    }
    if (!files.isEmpty() && !approve_files(session.handle(), files[0], files.mid(1))) {
        std::fprintf(stderr, "approve_reference: the file check list could not be stored\n");
        return 1;
    }
    return 0;
}
