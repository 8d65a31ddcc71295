/* vox_nosql.h: the exported interface of libvox_nosql_lib_local_mem.so.
 *
 * A host sends one command line to exec() and gets back a result set (or
 * NULL when the command failed). The result set is a list of typed columns
 * of equal length; read it with the accessors below, print it with print(),
 * and free it with del_datas(). Buffers returned by as_str() are allocated
 * with malloc() and belong to the caller, who frees them with free().
 *
 * Every function may be called from any thread. A result set belongs to the
 * caller of exec(); do not free it while another thread reads it.
 * This header is valid C (C99 and later) and C++.
 */
#ifndef VOX_NOSQL_H
#define VOX_NOSQL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct datas datas;           /* a result set */
typedef struct datas_col datas_col;   /* one column of a result set */
typedef struct datas_cell datas_cell; /* one cell of a column */

/* Runs one command line of len bytes. Returns a result set (possibly with
 * no columns) on success, NULL on failure. Successes without columns all
 * share one read-only result set, so they allocate nothing; free it like
 * any other. */
datas* exec(const char* line, int32_t len);
/* Frees a result set; NULL is ignored. */
void del_datas(datas* d);

uint64_t cols_of(const datas* d);
uint64_t rows_of(const datas* d);
/* NULL when d is NULL or index is negative or not below cols_of(d). */
const datas_col* col_of(const datas* d, int32_t index);
/* The column's name (zero-terminated) and its length in *len; NULL, with
 * *len untouched, when the index is out of range. */
const char* col_name(uint32_t* len, const datas* d, int32_t index);
/* NULL when the row or column is out of range. */
const datas_cell* at(uint64_t row, uint64_t col, const datas* d);

/* Width in bytes of a numeric column: 1, 2, 4 or 8 (8 for non-numbers). */
uint64_t val_size(const datas_col* c);
/* 0 integer, 1 floating point, 2 string, 3 date, 4 time, 5 datetime,
 * -1 for a column without a type. */
int32_t val_type(const datas_col* c);
/* 0 for signed integers, 1 for everything else. */
int32_t val_sign(const datas_col* c);

int8_t as_int8(const datas_cell* c);
uint8_t as_uint8(const datas_cell* c);
int16_t as_int16(const datas_cell* c);
uint16_t as_uint16(const datas_cell* c);
int32_t as_int32(const datas_cell* c);
uint32_t as_uint32(const datas_cell* c);
int64_t as_int64(const datas_cell* c);
uint64_t as_uint64(const datas_cell* c);
float as_float(const datas_cell* c);
double as_double(const datas_cell* c);
/* Copies the cell's text into a new malloc()ed buffer of exactly *len
 * bytes (no terminating zero); the caller frees *out. */
void as_str(char** out, uint64_t* len, const datas_cell* c);
void as_date(uint32_t* year, uint32_t* month, uint32_t* day, const datas_cell* c);
void as_time(uint32_t* hour, uint32_t* minute, uint32_t* second, uint32_t* nanosecond,
             const datas_cell* c);
void as_datetime(uint32_t* year, uint32_t* month, uint32_t* day, uint32_t* hour, uint32_t* minute,
                 uint32_t* second, uint32_t* nanosecond, const datas_cell* c);

/* Writes the result set to standard output as a text table. */
void print(const datas* d);

#ifdef __cplusplus
}
#endif

#endif /* VOX_NOSQL_H */
