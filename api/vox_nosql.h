/* vox_nosql.h: the exported interface of libvox_nosql_lib_local_mem.so.
 *
 * A host sends one command line to exec() and gets back a result set (or
 * NULL when the command failed). The result set is a list of typed columns
 * of equal length; read it with the accessors below, print it with print(),
 * and free it with del_datas(). Buffers returned by as_str() are allocated
 * with malloc() and belong to the caller, who frees them with free().
 *
 * When exec() returns NULL, last_error() tells the calling thread why.
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

/* Why the calling thread's last exec() failed. Returns its code, below;
 * VOX_E_NONE when that exec() succeeded or the thread has called none.
 * Every out pointer may be NULL. The texts are constant, zero-terminated
 * and valid for the life of the process.
 *   *text    the code's short English text (the texts below);
 *   *detail  more about it, or "": for VOX_E_BAD_ARGUMENT the type the
 *            argument must have ("i32", "u64" for positions, counts and
 *            handles, ...); for VOX_E_KIND_LACKS_WORD and VOX_E_PLACEHOLDER
 *            the container's kind; for VOX_E_DUMP_DAMAGED the field that
 *            is damaged ("record count", "name", "vkey", "kind word",
 *            "key type", "value type", "capacity", "elements");
 *   *record  for VOX_E_DUMP_DAMAGED the index, from 0, of the record in
 *            which the damage was found; otherwise 0.
 * Nothing else changes the reason: not the accessors, not del_datas(). */
int32_t last_error(const char** text, const char** detail, uint64_t* record);

/* Prepared statements: a get, set, insert or delete line parsed once and
 * run many times, with ? standing for any literal word (a key, a value, a
 * bound, a position, a count or a handle; not the container, not a
 * sub-command word). Placeholders are numbered from 1 in the order they
 * stand in the line.
 *
 * vox_prepare() splits the line, finds the container and classifies the
 * word once, and reads the literals that are written out; it returns NULL,
 * with the reason in last_error(), when the line could not run for any
 * values (an unknown container, a word the container's kind does not
 * answer, a ? where a word belongs, a literal of the wrong type).
 *
 * vox_bind_*() give placeholder `index` a value, checked against the type
 * that place takes (the container's key or value type, or an unsigned
 * 64-bit number for positions, counts and handles): a number must fit the
 * type exactly (70000 is refused for an i16 key, -1 for a position, 2.5
 * for an integer), text goes only to strings, dates and times only to
 * their own types and must be valid. They return 0, or a failure code with
 * the reason in last_error(). Values stay bound until changed or until
 * vox_reset().
 *
 * vox_run() runs the command with the bound values under the same locks as
 * exec() and returns its answer: a result set that belongs to the statement
 * and stays valid until the next vox_run(), vox_reset() or vox_finalize()
 * on it (do not pass it to del_datas(); that call ignores it). NULL on
 * failure, with the reason in last_error(); a run whose container was
 * erased, cleared or replaced by a read since vox_prepare() fails with
 * VOX_E_STALE_STATEMENT and never touches another container. An answer of
 * one cell allocates nothing.
 *
 * A statement is used by one thread at a time; any number of statements
 * run at once. Using a statement after vox_finalize(), or finalizing it
 * twice, is an error this interface cannot detect (vox_nosql.hpp's
 * vox::statement makes it impossible). */
typedef struct vox_stmt vox_stmt;
vox_stmt* vox_prepare(const char* line, int32_t len);
int32_t vox_bind_int64(vox_stmt* s, int32_t index, int64_t value);
int32_t vox_bind_uint64(vox_stmt* s, int32_t index, uint64_t value);
int32_t vox_bind_double(vox_stmt* s, int32_t index, double value);
int32_t vox_bind_text(vox_stmt* s, int32_t index, const char* text, uint64_t len);
int32_t vox_bind_date(vox_stmt* s, int32_t index, uint32_t year, uint32_t month, uint32_t day);
int32_t vox_bind_time(vox_stmt* s, int32_t index, uint32_t hour, uint32_t minute, uint32_t second,
                      uint32_t nanosecond);
int32_t vox_bind_datetime(vox_stmt* s, int32_t index, uint32_t year, uint32_t month, uint32_t day,
                          uint32_t hour, uint32_t minute, uint32_t second, uint32_t nanosecond);
/* The number of placeholders. */
int32_t vox_placeholder_count(const vox_stmt* s);
const datas* vox_run(vox_stmt* s);
/* Forgets the bound values and the last answer. */
void vox_reset(vox_stmt* s);
/* Frees the statement and its answer; NULL is ignored. */
void vox_finalize(vox_stmt* s);

/* The values of an integer or floating-point column as one array of
 * rows_of() values, each val_size(c) bytes (read them as the type that
 * val_type, val_size and val_sign name), with their number in *count; NULL
 * for a string, date, time or datetime column. Valid as long as the result
 * set. Reading a whole column this way costs no call per cell. */
const void* vox_col_values(const datas_col* c, uint64_t* count);

/* Durable mode: the store journaled into a directory, so that what the
 * store acknowledged survives the process (and, with sync 2, the machine).
 *
 * vox_durable_open(dir, sync) locks the directory dir (made when absent)
 * for this process. If it holds a store (a checkpoint and the journal after
 * it), the current store is replaced by that store; if it is empty, the
 * current store becomes its first checkpoint. From then on every command
 * that changes the store (insert, set, delete, create, erase, clear, read)
 * is journaled before it returns; a command that cannot be journaled fails
 * and changes nothing. sync says when the journal reaches the disk:
 *   0 none    each change is in the operating system's hands before the
 *             command returns: nothing is lost when the process dies, a
 *             power loss may lose the newest changes;
 *   1 batch   as none, and the first change 50 ms or more after the last
 *             sync syncs (a power loss loses at most about the last 50 ms);
 *   2 always  each change is on disk before the command returns; threads
 *             that change the store at once share their syncs.
 * vox_checkpoint() writes the whole store, as it stands at one instant,
 * into the directory and drops the journal it supersedes; commands go on
 * meanwhile. The host decides when; the library starts no threads.
 * vox_durable_close() syncs, stops journaling and unlocks the directory.
 * Each returns 0, or a failure code with the reason in last_error(). */
int32_t vox_durable_open(const char* dir, int32_t sync);
int32_t vox_checkpoint(void);
int32_t vox_durable_close(void);

/* Batches: several commands run as one, all or nothing, that no other
 * thread, dump or checkpoint sees half done.
 *
 * vox_batch() runs the command lines of text, separated by line feeds (a
 * line feed at the very end starts no command; a line cannot hold a raw
 * line feed, even quoted: use vox_batch_items() or an escape). Any line
 * exec() takes may be in a batch except dumps (b) and reads (r). On
 * success it returns the number of commands n and results[0..n) holds
 * their answers, each freed with del_datas(). If command i fails, the
 * changes of the commands before it are taken back, no answer is
 * returned, it returns -1, and last_error() gives command i's reason with
 * i as its record number; running out of memory anywhere in the batch
 * does the same. More than capacity commands: nothing runs, and the
 * failure is VOX_E_BATCH_TOO_LONG with record capacity.
 *
 * What a batch makes wait: a batch of get, set, insert, delete and
 * describe-one-container commands holds every container it names,
 * exclusively, from before its first command to after its last; other
 * commands on those containers wait for it, commands on other containers
 * run meanwhile. A batch that creates, erases or clears, or describes every
 * container ("k" alone), holds the whole store: nothing else runs while it
 * runs. In durable mode a batch is one journal record: after a crash it is
 * there whole or not at all.
 *
 * vox_batch_items() runs n items the same way; an item is a prepared
 * statement (stmt not NULL), run with the values bound to it, or a line of
 * len bytes. A statement's answer in a batch is a result set of its own,
 * freed with del_datas(); the statement's own answer is left alone. */
typedef struct vox_batch_item {
  const char* line;
  int32_t len;
  vox_stmt* stmt;
} vox_batch_item;
int32_t vox_batch(const char* text, int32_t len, datas** results, int32_t capacity);
int32_t vox_batch_items(const vox_batch_item* items, int32_t n, datas** results);

/* The codes of last_error(). DO NOT RENUMBER: hosts keep them. New codes
 * take numbers not used yet. */
#define VOX_E_NONE 0                   /* no failure */
/* The line. */
#define VOX_E_EMPTY_LINE 1             /* the line is empty */
#define VOX_E_UNKNOWN_COMMAND 2        /* the first byte names no command */
#define VOX_E_TOO_MANY_WORDS 3         /* the line has more than six words */
#define VOX_E_WORD_COUNT 4             /* wrong number of words for this command */
#define VOX_E_UNTERMINATED_QUOTE 5     /* a quoted word has no closing quote */
#define VOX_E_QUOTE_IN_WORD 6          /* a double quote inside a bare word */
#define VOX_E_ESCAPE_PAST_END 7        /* an escape runs past the end of the line */
#define VOX_E_NOT_PREPARABLE 8         /* only get, set, insert and delete lines can be prepared */
/* The container reference. */
#define VOX_E_NOT_A_REFERENCE 10       /* the container reference is neither a vkey nor a quoted name */
#define VOX_E_VKEY_OUT_OF_RANGE 11     /* the vkey is beyond the slot table */
#define VOX_E_EMPTY_SLOT 12            /* no container at this vkey */
#define VOX_E_UNKNOWN_NAME 13          /* no container has this name */
#define VOX_E_STALE_STATEMENT 14       /* the statement's container is gone */
/* Words, kinds and types. */
#define VOX_E_UNKNOWN_WORD 20          /* the word matches no sub-command */
#define VOX_E_KIND_LACKS_WORD 21       /* the container's kind does not answer this word */
#define VOX_E_PLACEHOLDER 22           /* a placeholder hash container takes no element command */
#define VOX_E_UNKNOWN_KIND 23          /* no such kind */
#define VOX_E_UNKNOWN_TYPE 24          /* no such type */
#define VOX_E_PLACEHOLDER_WORD 25      /* a placeholder stands where a word belongs */
/* Arguments. */
#define VOX_E_BAD_ARGUMENT 30          /* an argument cannot be read as the type it needs */
#define VOX_E_UNBOUND 31               /* a placeholder has no value */
#define VOX_E_NO_SUCH_PLACEHOLDER 32   /* no placeholder has this index */
/* The container's (or the store's) refusals. */
#define VOX_E_REFUSED 40               /* the container refused the operation */
#define VOX_E_KEY_PRESENT 41           /* the key is already present */
#define VOX_E_KEY_ABSENT 42            /* no element matches the key */
#define VOX_E_POSITION_OUT_OF_RANGE 43 /* the position or count is out of range */
#define VOX_E_HANDLE_NOT_LIVE 44       /* the handle names no live node of this list */
#define VOX_E_EMPTY_CONTAINER 45       /* the container is empty */
#define VOX_E_BEYOND_BUCKETS 46        /* the key lies beyond the buckets */
#define VOX_E_NAN_KEY 47               /* NaN cannot be a key */
#define VOX_E_NAME_TAKEN 48            /* another container has this name */
#define VOX_E_STORE_FULL 49            /* every vkey is in use */
/* Dump files. */
#define VOX_E_FILE_EXISTS 50           /* the dump file exists */
#define VOX_E_FILE_CREATE 51           /* the dump file cannot be created */
#define VOX_E_FILE_WRITE 52            /* the dump file cannot be written */
#define VOX_E_FILE_OPEN 53             /* the file cannot be opened */
#define VOX_E_NOT_A_DUMP 54            /* the file is not a dump file */
#define VOX_E_DUMP_VERSION 55          /* the dump file's version is not supported */
#define VOX_E_DUMP_DAMAGED 56          /* the dump file is damaged */
/* Resources. */
#define VOX_E_OUT_OF_MEMORY 60         /* out of memory */
/* Durable mode. */
#define VOX_E_DURABLE_OFF 80           /* durable mode is not on */
#define VOX_E_DURABLE_ON 81            /* durable mode is already on */
#define VOX_E_DURABLE_DIR 82           /* the durable directory cannot be used */
#define VOX_E_DURABLE_LOCKED 83        /* another process journals into this directory */
#define VOX_E_DURABLE_DAMAGED 84       /* a file of the durable directory is damaged */
#define VOX_E_JOURNAL_FAILED 85        /* the change could not be journaled */
#define VOX_E_CHECKPOINT_FAILED 86     /* the checkpoint could not be written */
/* Batches. */
#define VOX_E_BATCH_REFUSED 90         /* dumps and reads cannot run in a batch */
#define VOX_E_BATCH_TOO_LONG 91        /* the batch holds more commands than there is room for answers */
/* Never returned by last_error(): vox_nosql.hpp's own failure for a line it
 * did not send to exec() because it cannot be built or is too long. */
#define VOX_E_NOT_SENT 70              /* the line was not sent: it cannot be built or is too long */

#ifdef __cplusplus
}
#endif

#endif /* VOX_NOSQL_H */
