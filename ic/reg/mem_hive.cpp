// Hives: reference counting shared by both kinds, and the memory hive.
#include "reg_internal.h"

#include <new>
#include <unistd.h>

void reg_hive_object_gone(reg_hive *hive)
{
    if (--hive->objects || hive->users)
        return;
    if (hive->fd >= 0)
        close(hive->fd);
    delete[] hive->cache.pages;
    reg_overlay_free(hive->overlay);
    delete hive;
}

namespace {

void hive_add_ref(reg_hive *hive)
{
    ++hive->users;
}

void hive_release(reg_hive *hive)
{
    if (--hive->users)
        return;
    ++hive->objects;
    reg_hive_purge(hive);
    reg_hive_object_gone(hive);
}

int hive_get_root_key(reg_hive *hive, reg_key **key)
{
    if (!hive->root)
        return REG_ERR_INVAL;
    hive->root->ops->add_ref(hive->root);
    *key = hive->root;
    return REG_OK;
}

const reg_hive_ops mem_hive_ops = {hive_add_ref, hive_release, hive_get_root_key};

} // namespace

reg_hive *reg_hive_new(reg_hive_kind kind, const reg_hive_ops *ops)
{
    auto *hive = new (std::nothrow) reg_hive{};
    if (!hive)
        return nullptr;
    hive->ops = ops ? ops : &mem_hive_ops;
    hive->kind = kind;
    hive->users = 1;
    hive->fd = -1;
    return hive;
}

const reg_hive_ops *reg_common_hive_ops()
{
    return &mem_hive_ops;
}

int reg_create_mem_hive(reg_hive **hive)
{
    if (!hive)
        return REG_ERR_INVAL;
    reg_hive *h = reg_hive_new(REG_HIVE_MEM, nullptr);
    if (!h)
        return REG_ERR_NOMEM;
    static const reg_char empty[1] = {0};
    reg_key *root;
    ++h->objects;
    int rc = reg_mem_key_create(h, nullptr, empty, 0, nullptr, 0, &root);
    if (rc) {
        h->users = 0;
        reg_hive_object_gone(h);
        return rc;
    }
    h->root = root;
    reg_hive_object_gone(h);
    *hive = h;
    return REG_OK;
}

void reg_close_hive(reg_hive *hive)
{
    if (hive)
        hive->ops->release(hive);
}

int reg_get_root_key(reg_hive *hive, reg_key **key)
{
    if (!hive || !key)
        return REG_ERR_INVAL;
    return hive->ops->get_root_key(hive, key);
}
