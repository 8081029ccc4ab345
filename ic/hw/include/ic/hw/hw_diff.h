/*
 * hw_diff.h - difference between two hardware inventories (stored first,
 * current second).
 *
 * Devices are paired class by class by their identity; each pair records
 * which parameters differ.  The difference points into both inventories and
 * owns nothing of them: both must outlive it.  Check flags are not looked
 * at; the reader decides which differences count.
 */
#ifndef IC_HW_HW_DIFF_H
#define IC_HW_HW_DIFF_H

#include <ic/hw/hw_info.h>

/* Device difference kinds. */
enum {
    HW_DIFF_SAME = 0,    /* same device, no parameter differs */
    HW_DIFF_CHANGED = 1, /* same device, at least one parameter differs */
    HW_DIFF_NEW = 2,     /* only in the second (current) inventory */
    HW_DIFF_REMOVED = 3, /* only in the first (stored) inventory */
};

/* Parameter difference kinds. */
enum {
    HW_PARAM_DIFF_EQUAL = 0, /* equal, or not compared */
    HW_PARAM_DIFF_CHANGED = 1,
};

#define HW_DIFF_ANY 1u /* hw_diff flags: some device difference is not "same" */

struct hw_param_diff {
    uint32_t kind;
    hw_list link;
    hw_param *first;  /* null for a new device */
    hw_param *second; /* null for a removed device, or when the current
                         device lacks the parameter */
};

struct hw_dev_diff {
    uint32_t kind;
    hw_list link;
    hw_list params;
    hw_device *first;  /* null for a new device */
    hw_device *second; /* null for a removed device */
};

struct hw_diff {
    uint32_t flags;
    hw_list devices[HW_CLASS_COUNT];
};

/* 0; 2 a null argument; 3 (nothing is left allocated).  Clears and sets the
 * matched bit (HW_DEVICE_MATCHED) of the devices of both inventories. */
int hw_diff_create(hw_info *first, hw_info *second, hw_diff **diff);
void hw_diff_destroy(hw_diff *diff);

hw_dev_diff *hw_diff_get_first_device(const hw_diff *diff, uint32_t type);
hw_dev_diff *hw_diff_get_next_device(const hw_diff *diff, const hw_dev_diff *dev);
hw_param_diff *hw_dev_diff_get_first_param(const hw_dev_diff *dev);
hw_param_diff *hw_dev_diff_get_next_param(const hw_dev_diff *dev, const hw_param_diff *param);

#endif
