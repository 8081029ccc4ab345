// orva-ic hw: hardware inventory of the current computer (through
// ORVA_SYSROOT when set), its byte image, and its difference against a
// saved image.
#include <cstdio>
#include <string>

#include "commands.h"
#include "ic/hw/hw_diff.h"
#include "ic/hw/hw_info.h"
#include "ic/hw/hw_ptr.h"

namespace orva_ic {
namespace {

using Info = ic_hw::info_ptr;
using Diff = ic_hw::diff_ptr;

const char *code_text(int rc) {
    switch (rc) {
        case HW_ERR_NO_SMBIOS: return "no SMBIOS entry point";
        case HW_ERR_BAD_SMBIOS: return "malformed SMBIOS/DMI data";
        case HW_ERR_NOT_SUPPORTED: return "operation not supported";
        case HW_ERR_NO_ATTR: return "missing sysfs attribute";
        default: return core_code_text(rc);
    }
}

int fail(const std::string &what, int rc) { return orva_ic::fail("hw", what, code_text(rc), rc); }

Info scan(int &rc) {
    hw_info *info = nullptr;
    rc = hw_info_get_current(&info);
    return Info(info);
}

const char *kind_name(uint32_t kind) {
    switch (kind) {
        case HW_PARAM_UINT16: return "uint16";
        case HW_PARAM_STRING: return "string";
        case HW_PARAM_BARRAY: return "bytes";
        default: return "unknown";
    }
}

std::string json_value(const hw_param *p) {
    switch (hw_param_kind(p)) {
        case HW_PARAM_UINT16: return std::to_string(hw_param_uint16(p));
        case HW_PARAM_STRING: return json_string(hw_param_string(p));
        case HW_PARAM_BARRAY: return "\"" + hex(hw_param_barray(p), hw_param_barray_size(p)) + "\"";
        default: return "null";
    }
}

const char *json_bool(bool b) { return b ? "true" : "false"; }

void print_json(const hw_info *info) {
    std::string out = "{\"classes\": [";
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        out += c ? ",\n  " : "\n  ";
        out += "{\"code\": " + std::to_string(c) + ", \"name\": " + json_string(hw_class_name(c)) +
               ", \"checked\": " + json_bool(info->flags[c] & HW_CLASS_CHECKED) + ", \"devices\": [";
        bool first_device = true;
        for (const hw_device *d = hw_info_get_first_device(info, c); d; d = hw_info_get_next_device(info, d)) {
            out += first_device ? "\n    " : ",\n    ";
            first_device = false;
            out += "{\"name\": " + json_string(d->name) + ", \"checked\": " +
                   json_bool(d->flags & HW_DEVICE_CHECKED) + ", \"params\": [";
            bool first_param = true;
            for (const hw_param *p = hw_device_get_first_param(d); p; p = hw_device_get_next_param(d, p)) {
                out += first_param ? "\n      " : ",\n      ";
                first_param = false;
                out += "{\"name\": " + json_string(p->name) + ", \"title\": " + json_string(p->title) +
                       ", \"kind\": \"" + kind_name(hw_param_kind(p)) + "\", \"value\": " + json_value(p) +
                       ", \"text\": " + json_string(p->text) + ", \"checked\": " +
                       json_bool(p->flags & HW_PARAM_CHECKED) + "}";
            }
            out += first_param ? "]}" : "\n    ]}";
        }
        out += first_device ? "]}" : "\n  ]}";
    }
    out += "\n]}\n";
    std::fputs(out.c_str(), stdout);
}

void print_text(const hw_info *info) {
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        std::printf("%s (%u)\n", hw_class_name(c), info->count[c]);
        for (const hw_device *d = hw_info_get_first_device(info, c); d; d = hw_info_get_next_device(info, d)) {
            std::printf("  %s\n", printable(d->name).c_str());
            for (const hw_param *p = hw_device_get_first_param(d); p; p = hw_device_get_next_param(d, p))
                std::printf("    %s: %s\n", printable(p->title).c_str(), printable(p->text).c_str());
        }
    }
}

const char *diff_kind(uint32_t kind) {
    switch (kind) {
        case HW_DIFF_CHANGED: return "changed";
        case HW_DIFF_NEW: return "new";
        case HW_DIFF_REMOVED: return "removed";
        default: return "same";
    }
}

// Lines for every device difference that is not "same"; returns their count.
unsigned print_diff(const hw_diff *diff) {
    unsigned count = 0;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        for (const hw_dev_diff *dd = hw_diff_get_first_device(diff, c); dd; dd = hw_diff_get_next_device(diff, dd)) {
            if (dd->kind == HW_DIFF_SAME) continue;
            ++count;
            const hw_device *d = dd->first ? dd->first : dd->second;
            std::printf("%s %s: %s\n", hw_class_name(c), printable(d->name).c_str(), diff_kind(dd->kind));
            if (dd->kind != HW_DIFF_CHANGED) continue;
            for (const hw_param_diff *pd = hw_dev_diff_get_first_param(dd); pd; pd = hw_dev_diff_get_next_param(dd, pd)) {
                if (pd->kind != HW_PARAM_DIFF_CHANGED) continue;
                std::printf("    %s: %s -> %s\n", printable(pd->first->title).c_str(),
                            printable(pd->first->text).c_str(),
                            pd->second ? printable(pd->second->text).c_str() : "(missing)");
            }
        }
    }
    if (count == 0) std::puts("no differences");
    return count;
}

int save(const std::string &path) {
    int rc;
    Info info = scan(rc);
    if (rc != HW_OK) return fail("cannot read the current hardware", rc);
    uint8_t *data = nullptr;
    uint32_t size = 0;
    rc = hw_info_write_to_mem(info.get(), &data, &size);
    if (rc != HW_OK) return fail("cannot build the byte image", rc);
    return save_image("hw", path, data, size);
}

int diff(const std::string &path) {
    std::string image;
    if (!load_image("hw", path, image)) return kExitFailure;
    hw_info *stored_raw = nullptr;
    int rc = hw_info_read_from_mem(image.data(), uint32_t(image.size()), &stored_raw);
    Info stored(stored_raw);
    if (rc != HW_OK) return fail(path + ": not a hardware inventory image", rc);
    Info current = scan(rc);
    if (rc != HW_OK) return fail("cannot read the current hardware", rc);
    hw_diff *diff_raw = nullptr;
    rc = hw_diff_create(stored.get(), current.get(), &diff_raw);
    Diff d(diff_raw);
    if (rc != HW_OK) return fail("cannot compare the inventories", rc);
    print_diff(d.get());
    return finish_output("hw", (d->flags & HW_DIFF_ANY) ? kExitDiffers : kExitOk);
}

}  // namespace

int cmd_hw(int argc, char **argv) {
    InventoryArgs args;
    const int usage = parse_inventory_args("hw", argc, argv, false, args);
    if (usage >= 0) return usage;
    if (args.save) return save(args.save);
    if (args.diff) return diff(args.diff);

    int rc;
    Info info = scan(rc);
    if (rc != HW_OK) return fail("cannot read the current hardware", rc);
    if (args.json)
        print_json(info.get());
    else
        print_text(info.get());
    return finish_output("hw", kExitOk);
}

}  // namespace orva_ic
