// The udev database records of block devices, as systemd-udevd writes them.
#include "udev_rules.h"

#include "internal.h"

#include <cctype>
#include <cstdio>

namespace simcomputer {
namespace {

bool whitelisted(unsigned char c)
{
    return std::isalnum(c) || c == '#' || c == '+' || c == '-' || c == '.' || c == ':' || c == '=' || c == '@'
           || c == '_' || c >= 0x80;
}

bool blank(unsigned char c)
{
    return std::isspace(c) != 0;
}

std::string hex4(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v & 0xFFFF);
    return buf;
}

std::string path_tag(const std::string &path)
{
    std::string tag = path;
    for (char &c : tag)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    return tag;
}

class Keys {
public:
    explicit Keys(std::vector<Property> &props) : props_(props) {}
    // Appends KEY=VALUE; an empty value is left out.
    void add(const std::string &key, const std::string &value)
    {
        if (!value.empty())
            props_.push_back({key, value});
    }
    // The description's own properties: replace in place, else append.
    void merge(const std::vector<Property> &given)
    {
        for (const auto &g : given) {
            bool replaced = false;
            for (auto &p : props_)
                if (p.key == g.key) {
                    p.value = g.value;
                    replaced = true;
                }
            if (!replaced)
                props_.push_back(g);
        }
    }
    const std::string *get(const std::string &key) const
    {
        for (const auto &p : props_)
            if (p.key == key)
                return &p.value;
        return nullptr;
    }

private:
    std::vector<Property> &props_;
};

void add_link(std::vector<std::string> &links, const std::string &link)
{
    for (const auto &l : links)
        if (l == link)
            return;
    links.push_back(link);
}

// The links udev makes from a file system's identity.
void add_fs_links(const Keys &k, std::vector<std::string> &links)
{
    if (const std::string *uuid = k.get("ID_FS_UUID_ENC"))
        add_link(links, "disk/by-uuid/" + *uuid);
    if (const std::string *label = k.get("ID_FS_LABEL_ENC"))
        add_link(links, "disk/by-label/" + *label);
}

// ata_id: the IDENTIFY strings (model 40, serial 20, firmware 8 characters).
void ata_keys(const BlockDevice &b, Keys &k, std::string &serial)
{
    const std::string model = padded(b.model, 40), firmware = padded(b.revision, 8);
    const std::string short_serial = udev_replaced(b.serial);
    k.add("ID_ATA", "1");
    k.add("ID_TYPE", b.kind == BlockKind::cdrom ? "cd" : "disk");
    k.add("ID_BUS", "ata");
    k.add("ID_MODEL", udev_replaced(model));
    k.add("ID_MODEL_ENC", udev_encoded(model));
    k.add("ID_REVISION", udev_replaced(firmware));
    serial = udev_replaced(model) + (short_serial.empty() ? "" : "_" + short_serial);
    k.add("ID_SERIAL", serial);
    k.add("ID_SERIAL_SHORT", short_serial);
}

// scsi_id: the inquiry strings (vendor 8, model 16, revision 4) and a
// vendor-specific designator holding the unit serial number.
void scsi_keys(const BlockDevice &b, Keys &k, std::string &serial)
{
    const std::string vendor = padded(b.vendor, 8), model = padded(b.model, 16);
    k.add("ID_SCSI", "1");
    k.add("ID_VENDOR", udev_replaced(vendor));
    k.add("ID_VENDOR_ENC", udev_encoded(vendor));
    k.add("ID_MODEL", udev_replaced(model));
    k.add("ID_MODEL_ENC", udev_encoded(model));
    k.add("ID_REVISION", udev_replaced(padded(b.revision, 4)));
    k.add("ID_TYPE", b.kind == BlockKind::cdrom ? "cd" : "disk");
    if (!b.serial.empty()) {
        serial = udev_replaced("0" + vendor + model + b.serial);
        k.add("ID_SERIAL", serial);
        k.add("ID_SERIAL_SHORT", udev_replaced(b.serial));
        k.add("ID_SCSI_SERIAL", udev_replaced(b.serial));
    }
    k.add("ID_BUS", "scsi");
}

// usb_id: the inquiry strings of the device, its USB identifiers and serial,
// each also as ID_USB_*.
void usb_keys(const BlockDevice &b, const UsbDevice &u, Keys &k, std::string &serial)
{
    const std::string vendor = padded(b.vendor, 8), model = padded(b.model, 16);
    const std::string usb_serial = udev_replaced(u.serial ? *u.serial : b.serial);
    serial = udev_replaced(vendor) + "_" + udev_replaced(model) + (usb_serial.empty() ? "" : "_" + usb_serial) + "-0:0";
    std::string interfaces = ":";
    for (unsigned i = 0; i < u.interfaces; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02x%s:", u.interface_class, u.interface_class == 0x08 ? "0650" : "0000");
        interfaces += buf;
    }
    const Property pairs[] = {
        {"MODEL", udev_replaced(model)}, {"MODEL_ENC", udev_encoded(model)}, {"MODEL_ID", hex4(u.product)},
        {"SERIAL", serial}, {"SERIAL_SHORT", usb_serial}, {"VENDOR", udev_replaced(vendor)},
        {"VENDOR_ENC", udev_encoded(vendor)}, {"VENDOR_ID", hex4(u.vendor)},
        {"REVISION", udev_replaced(padded(b.revision, 4))}, {"TYPE", b.kind == BlockKind::cdrom ? "cd" : "disk"},
        {"INSTANCE", "0:0"}};
    k.add("ID_BUS", "usb");
    for (const auto &p : pairs)
        k.add("ID_" + p.key, p.value);
    for (const auto &p : pairs)
        k.add("ID_USB_" + p.key, p.value);
    k.add("ID_USB_INTERFACES", interfaces);
    k.add("ID_USB_INTERFACE_NUM", "00");
    k.add("ID_USB_DRIVER", "usb-storage");
}

} // namespace

std::string udev_replaced(const std::string &s)
{
    size_t begin = 0, end = s.size();
    while (end > 0 && blank(s[end - 1]))
        --end;
    while (begin < end && blank(s[begin]))
        ++begin;
    std::string out;
    for (size_t i = begin; i < end;) {
        if (blank(s[i])) {
            while (i < end && blank(s[i]))
                ++i;
            out += '_';
            continue;
        }
        out += whitelisted(s[i]) ? s[i] : '_';
        ++i;
    }
    return out;
}

std::string udev_encoded(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (whitelisted(c)) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

UdevRecord disk_record(const BlockDevice &b, const BlockPlace &place)
{
    UdevRecord r;
    r.usec = 1000000ull + 1000ull * place.sequence;
    r.tags = {"systemd"};
    Keys k(r.properties);
    const bool cd = b.kind == BlockKind::cdrom;
    if (cd) {
        k.add("ID_CDROM", "1");
        k.add("SYSTEMD_MOUNT_DEVICE_BOUND", "1");
        r.tags = {"uaccess", "seat", "systemd"};
        r.link_priority = -100;
        r.links.push_back("cdrom");
    }
    std::string serial; // the by-id name
    std::string by_id;
    switch (place.transport) {
    case Transport::ata:
        ata_keys(b, k, serial);
        by_id = "ata-" + serial;
        break;
    case Transport::scsi:
        scsi_keys(b, k, serial);
        if (!serial.empty())
            by_id = "scsi-" + serial;
        break;
    case Transport::usb:
        usb_keys(b, *place.usb, k, serial);
        by_id = "usb-" + serial;
        break;
    case Transport::virtio:
        k.add("ID_SERIAL", b.serial);
        if (!b.serial.empty())
            by_id = "virtio-" + udev_replaced(b.serial);
        break;
    case Transport::nvme: {
        const std::string model = udev_replaced(b.model), short_serial = udev_replaced(b.serial);
        k.add("ID_SERIAL_SHORT", short_serial);
        k.add("ID_WWN", place.wwid);
        k.add("ID_MODEL", b.model);
        k.add("ID_REVISION", b.revision);
        k.add("ID_NSID", "1");
        serial = model + "_" + short_serial + "_1";
        k.add("ID_SERIAL", serial);
        by_id = "nvme-" + serial;
        r.links.push_back("disk/by-id/nvme-" + model + "_" + short_serial);
        r.links.push_back("disk/by-id/nvme-" + place.wwid);
        break;
    }
    case Transport::none:
        break;
    }
    if (!by_id.empty())
        r.links.push_back("disk/by-id/" + by_id);
    if (!place.id_path.empty()) {
        k.add("ID_PATH", place.id_path);
        k.add("ID_PATH_TAG", path_tag(place.id_path));
        k.add("ID_PATH_ATA_COMPAT", place.ata_compat);
        r.links.push_back("disk/by-path/" + place.id_path);
        if (!place.ata_compat.empty())
            r.links.push_back("disk/by-path/" + place.ata_compat);
        if (place.transport == Transport::virtio)
            r.links.push_back("disk/by-path/virtio-" + place.id_path);
        if (cd)
            k.add("ID_FOR_SEAT", "block-" + path_tag(place.id_path));
    }
    if (b.table && b.signature && b.image.empty()) {
        if (const uint32_t id = mbr_disk_id(b)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%08x", id);
            k.add("ID_PART_TABLE_UUID", buf);
        }
        k.add("ID_PART_TABLE_TYPE", "dos");
    }
    if (place.diskseq)
        r.links.push_back("disk/by-diskseq/" + std::to_string(place.diskseq));
    k.merge(b.properties);
    add_fs_links(k, r.links);
    for (const auto &l : b.links)
        add_link(r.links, l);
    return r;
}

UdevRecord partition_record(const UdevRecord &disk, const BlockDevice &b, const Partition &part,
                            const BlockPlace &place)
{
    UdevRecord r;
    r.usec = 1000000ull + 1000ull * place.sequence + part.number;
    r.tags = {"systemd"};
    Keys k(r.properties);
    for (const auto &p : disk.properties)
        if (p.key.compare(0, 3, "ID_") == 0 && p.key.compare(0, 6, "ID_FS_") != 0)
            k.add(p.key, p.value);
    const std::string suffix = "-part" + std::to_string(part.number);
    for (const auto &l : disk.links)
        if (l.compare(0, 11, "disk/by-id/") == 0 || l.compare(0, 13, "disk/by-path/") == 0)
            r.links.push_back(l + suffix);
    if (const std::string *table = k.get("ID_PART_TABLE_TYPE")) {
        char buf[32];
        k.add("ID_PART_ENTRY_SCHEME", *table);
        if (const std::string *uuid = k.get("ID_PART_TABLE_UUID")) {
            std::snprintf(buf, sizeof buf, "-%02x", part.number);
            k.add("ID_PART_ENTRY_UUID", *uuid + buf);
            r.links.push_back("disk/by-partuuid/" + *uuid + buf);
        }
        std::snprintf(buf, sizeof buf, "0x%x", part.type);
        k.add("ID_PART_ENTRY_TYPE", buf);
        if (part.boot) {
            std::snprintf(buf, sizeof buf, "0x%x", part.boot);
            k.add("ID_PART_ENTRY_FLAGS", buf);
        }
        k.add("ID_PART_ENTRY_NUMBER", std::to_string(part.number));
        k.add("ID_PART_ENTRY_OFFSET", std::to_string(part.start));
        k.add("ID_PART_ENTRY_SIZE", std::to_string(part.sectors));
        k.add("ID_PART_ENTRY_DISK", std::to_string(b.major) + ":" + std::to_string(b.minor));
    }
    k.merge(part.properties);
    add_fs_links(k, r.links);
    return r;
}

std::string record_text(const UdevRecord &r)
{
    std::string text;
    for (const auto &l : r.links)
        text += "S:" + l + "\n";
    if (r.link_priority)
        text += "L:" + std::to_string(r.link_priority) + "\n";
    text += "I:" + std::to_string(r.usec) + "\n";
    for (const auto &p : r.properties)
        text += "E:" + p.key + "=" + p.value + "\n";
    for (const auto &t : r.tags)
        text += "G:" + t + "\n";
    for (const auto &t : r.tags)
        text += "Q:" + t + "\n";
    return text + "V:1\n";
}

} // namespace simcomputer
