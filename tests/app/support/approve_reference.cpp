// Stores the computer of ORVA_SYSROOT as the reference of the module in
// ORVA_SIM_DIR: its hardware and its partition tables, every class, device,
// parameter and disk under control; with --registry, the registry keys
// (whole sub-trees) and values of the Windows directory DIR on the volume of
// file-system UUID, checked at boot. For demos, tests and scripted set-ups.
//
// usage: check_approve_reference [--registry UUID DIR PATH[:VALUE]...]
#include "support/check_computer.h"
#include "support/sim_module.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QStringList registry;
    if (!args.isEmpty()) {
        if (args.size() < 4 || args[0] != QLatin1String("--registry")) {
            std::fprintf(stderr, "usage: check_approve_reference [--registry UUID DIR PATH[:VALUE]...]\n");
            return 2;
        }
        registry = args.mid(1);
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
    return 0;
}
