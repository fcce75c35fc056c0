/* A recording stand-in for the runtime: every runtime function the module binds
   records the errno it finds on entry and its arguments (values by their bytes,
   pointers by their address and the first elements they point to), writes a known
   byte into the arrays it may write, sets a chosen errno and returns a chosen result.

   This file holds what every function shares; recording.py generates the functions
   themselves from the catalogue into recorded_functions.inc, included at the end, and
   passes the log's sizes as ARGUMENT_BYTES, MAX_ARGUMENTS, LOG_CAPACITY and
   WRITTEN_BYTE, which its ctypes reader shares. */
#if !defined(ARGUMENT_BYTES) || !defined(MAX_ARGUMENTS) || !defined(LOG_CAPACITY) || \
    !defined(WRITTEN_BYTE)
#error "compile through recording.build_recorder, which defines the log's sizes"
#endif
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

struct recorded_argument {
    uint64_t address;
    uint32_t size;
    uint8_t bytes[ARGUMENT_BYTES];
};

struct recorded_call {
    int32_t function;
    int32_t errno_on_entry;
    int32_t argument_count;
    int32_t released;
    struct recorded_argument arguments[MAX_ARGUMENTS];
};

static struct recorded_call calls[LOG_CAPACITY + 1];  /* the last one takes the overflow */
static int call_count;
static int errno_on_return;
static uint64_t result;
static int block_timeout_ms = 5000;
static int block_armed, blocked, released;
static pthread_mutex_t gate = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gate_changed = PTHREAD_COND_INITIALIZER;

int recorder_call_count(void) { return call_count; }
const struct recorded_call *recorder_calls(void) { return calls; }
void recorder_reset(void) { call_count = 0; memset(calls, 0, sizeof calls); }
void recorder_set_errno_on_return(int value) { errno_on_return = value; }
void recorder_set_result(uint64_t value) { result = value; }
/* Whether calls read and write the memory behind their pointers (by default they do):
   hostile callers pass arrays the recorder's fixed reach may not fit. */
static int touch_memory = 1;
void recorder_set_touch_memory(int value) { touch_memory = value; }
void recorder_set_block_timeout_ms(int value) { block_timeout_ms = value; }

void recorder_block_next_call(void) {
    pthread_mutex_lock(&gate);
    block_armed = 1;
    released = 0;
    pthread_mutex_unlock(&gate);
}

int recorder_is_blocked(void) {
    pthread_mutex_lock(&gate);
    int value = blocked;
    pthread_mutex_unlock(&gate);
    return value;
}

void recorder_release(void) {
    pthread_mutex_lock(&gate);
    released = 1;
    pthread_cond_broadcast(&gate_changed);
    pthread_mutex_unlock(&gate);
}

static struct recorded_call *begin_call(int function, int argument_count, int errno_on_entry) {
    int index = __atomic_fetch_add(&call_count, 1, __ATOMIC_SEQ_CST);
    struct recorded_call *call = &calls[index < LOG_CAPACITY ? index : LOG_CAPACITY];
    call->function = function;
    call->errno_on_entry = errno_on_entry;
    call->argument_count = argument_count;
    call->released = -1;
    return call;
}

static void record_value(struct recorded_call *call, int i, const void *value, size_t size) {
    call->arguments[i].address = 0;
    call->arguments[i].size = (uint32_t)size;
    memcpy(call->arguments[i].bytes, value, size);
}

static void record_pointer(struct recorded_call *call, int i, const void *pointer, size_t size) {
    call->arguments[i].address = (uint64_t)(uintptr_t)pointer;
    call->arguments[i].size = pointer && touch_memory ? (uint32_t)size : 0;
    if (pointer && touch_memory) memcpy(call->arguments[i].bytes, pointer, size);
}

static void write_array(void *pointer, size_t size) {
    if (pointer && touch_memory) memset(pointer, WRITTEN_BYTE, size);
}

/* Waits, if armed, until the tests release the call or the timeout passes: after the
   call has read its arguments and before it writes, as a runtime busy computing. */
static void wait_if_armed(struct recorded_call *call) {
    pthread_mutex_lock(&gate);
    if (block_armed) {
        block_armed = 0;
        blocked = 1;
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += block_timeout_ms / 1000;
        deadline.tv_nsec += (long)(block_timeout_ms % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while (!released) {
            if (pthread_cond_timedwait(&gate_changed, &gate, &deadline) == ETIMEDOUT) break;
        }
        call->released = released;
        blocked = 0;
    }
    pthread_mutex_unlock(&gate);
}

/* Sets the chosen errno as the very last thing before the caller sees the return. */
static uint64_t end_call(void) {
    uint64_t value = result;
    errno = errno_on_return;
    return value;
}

#include "recorded_functions.inc"
