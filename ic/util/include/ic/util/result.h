/*
 * result.h - result codes shared by the integrity-control core.
 *
 * Every core operation returns one of these; areas add their own codes from
 * 5 upwards.  Callers pass a code upward unchanged.
 */
#ifndef IC_UTIL_RESULT_H
#define IC_UTIL_RESULT_H

enum {
    IC_OK = 0,           /* success */
    IC_ERR_IO = 1,       /* input/output or system failure, malformed data, read past the end */
    IC_ERR_INVAL = 2,    /* invalid argument */
    IC_ERR_NOMEM = 3,    /* out of memory */
    IC_ERR_NOTFOUND = 4, /* not found */
};

#endif
