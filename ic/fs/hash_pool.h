// Reading and hashing file contents on several threads for one walker of a
// volume.  The walker opens each file itself and hands the open file over;
// what it wants done with a digest runs later on its own thread, strictly in
// the order it asked, so that results do not depend on how many threads
// read.  At most a window of files is in flight, each thread reads through
// its own buffer: memory depends on the number of threads only.
#ifndef IC_FS_HASH_POOL_H
#define IC_FS_HASH_POOL_H

#include <ic/fs/fs_ocl.h>
#include <ic/util/unique_fd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ocl {

// What hashing one file gave: FS_OCL_OK and the digest, or a negative
// outcome (the entry is gone, or it cannot be read).
struct content {
    int status = FS_OCL_OK;
    uint8_t digest[FS_OCL_HASH_SIZE] = {};
};

// Called now and then (about every 50 ms) on the walker's thread while
// files are read and hashed, so that a program can repaint meanwhile.
struct progress {
    void (*fn)(void *arg) = nullptr;
    void *arg = nullptr;
};

// Threads that read and hash, the walker's own among them: ORVA_IC_WORKERS
// when it holds a number from 1 to 64, else the processors this process may
// run on.  With 1 the walker hashes every file itself, a window of files
// behind the walk.
unsigned hash_workers();

// Bytes asked for by one read of a file's contents, and how far ahead of
// the reads the kernel is asked to read the file in.
constexpr size_t HASH_READ_SIZE = 256 * 1024;
constexpr size_t HASH_READ_AHEAD = 1024 * 1024;

// Asks the kernel to read in HASH_READ_AHEAD bytes of the size-byte file
// open at fd from offset from (nothing past its end).
void read_ahead(int fd, uint64_t from, uint64_t size);

// Digest of everything readable from fd, of which fstat said size bytes
// (the first HASH_READ_AHEAD asked for already): FS_OCL_OK or UNREADABLE
// (path names the file in messages).  Reads stop at the end of file; a read
// shorter than asked that ends where fstat said the file ends is taken as
// the end.  buffer holds HASH_READ_SIZE bytes.
int read_digest(int fd, uint64_t size, uint8_t *buffer, const char *path, uint8_t digest[FS_OCL_HASH_SIZE],
                const std::function<bool()> &go_on = {});

class hash_pool {
public:
    using then_fn = std::function<int(const content &)>;
    using step_fn = std::function<int()>;

    hash_pool() = default;
    ~hash_pool();
    hash_pool(const hash_pool &) = delete;
    hash_pool &operator=(const hash_pool &) = delete;

    // Starts workers - 1 threads (fewer when they cannot be had).
    // FS_OCL_OK or FS_OCL_ERR_NOMEM.
    int start(unsigned workers, progress p = {});

    // Hashes the regular file open at fd (size from its fstat) and then,
    // after every step queued before, calls then(result).  Steps return
    // FS_OCL_OK or a code that ends the pool: no step runs after it, and
    // this and every later call return it.
    int hash(ic_util::unique_fd fd, uint64_t size, const char *path, then_fn then);
    // Calls then(result) for a result known already, in its turn.
    int done(const content &result, then_fn then);
    // Calls step in its turn.
    int then(step_fn step);
    // Runs every queued step: FS_OCL_OK or the code that ended the pool.
    int finish();

private:
    enum job_state { QUEUED, RUNNING, DONE };
    struct job {
        ic_util::unique_fd fd;
        uint64_t size = 0;
        std::string path;
        job_state state = QUEUED; // under mu_
        content result;
    };
    struct slot {
        std::unique_ptr<job> work; // null: nothing to wait for
        content result;
        then_fn then;
        step_fn step;
    };

    int push(slot s);
    // Runs the first step, waiting for (or doing) its file first.
    void run_first();
    int run(slot &s);
    void tick();
    void worker(uint8_t *buffer);
    // Hashes j on this thread.
    void hash_here(job &j, uint8_t *buffer, bool walker);
    void drop_queued();

    unsigned workers_ = 1;
    size_t window_ = 1;
    progress progress_;
    std::chrono::steady_clock::time_point last_tick_{};
    std::unique_ptr<uint8_t, void (*)(void *)> own_buffer_{nullptr, nullptr};
    std::vector<std::unique_ptr<uint8_t, void (*)(void *)>> buffers_;
    std::deque<slot> slots_; // the walker's thread only
    int failed_ = FS_OCL_OK;

    std::mutex mu_;
    std::condition_variable work_cv_, done_cv_;
    std::deque<job *> queued_; // oldest first
    bool stopping_ = false;
    std::atomic<bool> cancel_{false};
    std::vector<std::thread> threads_;
};

} // namespace ocl

#endif
