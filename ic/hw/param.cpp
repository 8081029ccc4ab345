// Parameters: uint16, string and byte-array values with their texts.
#include "hw_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t text_limit = 1024; // a uint16 value text must stay below it

void param_free(hw_param *param)
{
    std::free(param);
}

const hw_param_uint16_rec *as_uint16(const hw_param *p)
{
    return hw_const_container_of(p, hw_param_uint16_rec, base);
}
const hw_param_string_rec *as_string(const hw_param *p)
{
    return hw_const_container_of(p, hw_param_string_rec, base);
}
const hw_param_barray_rec *as_barray(const hw_param *p)
{
    return hw_const_container_of(p, hw_param_barray_rec, base);
}

int uint16_compare(const hw_param *a, const hw_param *b)
{
    return int(as_uint16(a)->value) - int(as_uint16(b)->value);
}

int string_compare(const hw_param *a, const hw_param *b)
{
    return std::strcmp(as_string(a)->value, as_string(b)->value);
}

int barray_compare(const hw_param *a, const hw_param *b)
{
    const hw_param_barray_rec *x = as_barray(a), *y = as_barray(b);
    uint32_t n = x->size < y->size ? x->size : y->size;
    if (n) {
        int c = std::memcmp(x->data, y->data, n);
        if (c)
            return c;
    }
    return x->size < y->size ? -1 : x->size > y->size ? 1 : 0;
}

int barray_no_copy(const hw_param *, hw_param **)
{
    return HW_ERR_NOT_SUPPORTED;
}

const hw_param_ops uint16_ops = {HW_PARAM_UINT16, uint16_compare, uint16_param_copy, param_free};
const hw_param_ops string_ops = {HW_PARAM_STRING, string_compare, string_param_copy, param_free};
const hw_param_ops barray_ops = {HW_PARAM_BARRAY, barray_compare, barray_no_copy, param_free};

void base_init(hw_param *p, const hw_param_ops *ops, char *const *strs)
{
    p->ops = ops;
    p->flags = 0;
    hw_list_init(&p->link);
    p->name = strs[0];
    p->title = strs[1];
}

// "{aa, bb, cc}" for up to 4 bytes, "{aa, bb ... zz}" for more.
void barray_text(const uint8_t *bytes, uint32_t length, char *out)
{
    char *p = out;
    *p++ = '{';
    if (length > 4) {
        p += std::sprintf(p, "%02x, %02x ... %02x", bytes[0], bytes[1], bytes[length - 1]);
    } else {
        for (uint32_t i = 0; i < length; ++i)
            p += std::sprintf(p, i ? ", %02x" : "%02x", bytes[i]);
    }
    *p++ = '}';
    *p = '\0';
}

} // namespace

int _create_uint16_param_text(const char *name, const char *title, const char *text,
                              uint16_t value, hw_param **param)
{
    HW_ENTER();
    if (!name || !title || !text || !param)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str strs[3] = {hw_str_of(name, -1), hw_str_of(title, -1), hw_str_of(text, -1)};
    if (strs[2].len >= text_limit)
        HW_RETURN(HW_ERR_INVAL);
    char *dst[3];
    auto *rec = static_cast<hw_param_uint16_rec *>(hw_alloc_record(sizeof(hw_param_uint16_rec), strs, dst, 3));
    if (!rec)
        HW_RETURN(HW_ERR_NOMEM);
    base_init(&rec->base, &uint16_ops, dst);
    rec->base.text = dst[2];
    rec->value = value;
    *param = &rec->base;
    HW_RETURN(HW_OK);
}

int create_uint16_param(const char *name, const char *title, const char *format, uint16_t value,
                        hw_param **param)
{
    HW_ENTER();
    if (!format)
        HW_RETURN(HW_ERR_INVAL);
    char text[text_limit];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = std::snprintf(text, sizeof text, format, unsigned(value));
#pragma GCC diagnostic pop
    if (n < 0 || size_t(n) >= text_limit)
        HW_RETURN(HW_ERR_INVAL);
    HW_RETURN(_create_uint16_param_text(name, title, text, value, param));
}

int create_string_param(const char *name, const char *title, const char *value, int length,
                        const char *text, hw_param **param)
{
    HW_ENTER();
    if (!name || !title || !param)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str strs[4] = {hw_str_of(name, -1), hw_str_of(title, -1), hw_str_of(value, length),
                            hw_str_of(text, -1)};
    char *dst[4];
    auto *rec = static_cast<hw_param_string_rec *>(
        hw_alloc_record(sizeof(hw_param_string_rec), strs, dst, text ? 4 : 3));
    if (!rec)
        HW_RETURN(HW_ERR_NOMEM);
    base_init(&rec->base, &string_ops, dst);
    rec->value = dst[2];
    rec->base.text = text ? dst[3] : dst[2];
    *param = &rec->base;
    HW_RETURN(HW_OK);
}

int create_barray_param(const char *name, const char *title, const uint8_t *bytes, uint32_t length,
                        hw_param **param)
{
    HW_ENTER();
    if (!name || !title || !param || (length && !bytes))
        HW_RETURN(HW_ERR_INVAL);
    char text[32];
    barray_text(bytes, length, text);
    const hw_str strs[4] = {hw_str_of(name, -1), hw_str_of(title, -1), hw_str_of(text, -1),
                            {reinterpret_cast<const char *>(bytes), length}};
    char *dst[4];
    auto *rec = static_cast<hw_param_barray_rec *>(hw_alloc_record(sizeof(hw_param_barray_rec), strs, dst, 4));
    if (!rec)
        HW_RETURN(HW_ERR_NOMEM);
    base_init(&rec->base, &barray_ops, dst);
    rec->base.text = dst[2];
    rec->size = length;
    rec->data = reinterpret_cast<const uint8_t *>(dst[3]);
    *param = &rec->base;
    HW_RETURN(HW_OK);
}

int uint16_param_copy(const hw_param *param, hw_param **copy)
{
    HW_ENTER();
    if (!param || !copy || param->ops != &uint16_ops)
        HW_RETURN(HW_ERR_INVAL);
    HW_RETURN(_create_uint16_param_text(param->name, param->title, param->text,
                                        as_uint16(param)->value, copy));
}

int string_param_copy(const hw_param *param, hw_param **copy)
{
    HW_ENTER();
    if (!param || !copy || param->ops != &string_ops)
        HW_RETURN(HW_ERR_INVAL);
    const char *value = as_string(param)->value;
    HW_RETURN(create_string_param(param->name, param->title, value, -1,
                                  param->text == value ? nullptr : param->text, copy));
}

uint32_t hw_param_kind(const hw_param *param)
{
    return param ? param->ops->kind : 0;
}

uint16_t hw_param_uint16(const hw_param *param)
{
    return param && param->ops == &uint16_ops ? as_uint16(param)->value : 0;
}

const char *hw_param_string(const hw_param *param)
{
    return param && param->ops == &string_ops ? as_string(param)->value : nullptr;
}

const uint8_t *hw_param_barray(const hw_param *param)
{
    return param && param->ops == &barray_ops ? as_barray(param)->data : nullptr;
}

uint32_t hw_param_barray_size(const hw_param *param)
{
    return param && param->ops == &barray_ops ? as_barray(param)->size : 0;
}

int hw_param_compare(const hw_param *a, const hw_param *b)
{
    if (a == b)
        return 0;
    if (!a || !b)
        return a ? 1 : -1;
    if (a->ops != b->ops)
        return a->ops->kind < b->ops->kind ? -1 : 1;
    return a->ops->compare(a, b);
}

int hw_param_copy(const hw_param *param, hw_param **copy)
{
    if (!param || !copy)
        return HW_ERR_INVAL;
    return param->ops->copy(param, copy);
}

void hw_param_destroy(hw_param *param)
{
    if (param)
        param->ops->destroy(param);
}
