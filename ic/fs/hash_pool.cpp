// The pool of threads that read and hash files for a walker.
#include "hash_pool.h"

#include "ocl_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace ocl {
namespace {

constexpr unsigned MAX_WORKERS = 64;
constexpr auto TICK = std::chrono::milliseconds(50);

// Files in flight per thread: enough that a long file at the head does not
// leave the others idle at once, and that the files after it are being
// read in while it is hashed.
constexpr size_t WINDOW_PER_WORKER = 16;
constexpr size_t MAX_WINDOW = 256;

// The window, kept to a quarter of the descriptors the process may open.
size_t window_for(unsigned workers)
{
    size_t window = std::min(MAX_WINDOW, WINDOW_PER_WORKER * workers);
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        window = std::min<size_t>(window, std::max<rlim_t>(limit.rlim_cur / 4, 1));
    return window;
}

using buffer_ptr = std::unique_ptr<uint8_t, void (*)(void *)>;

buffer_ptr new_buffer()
{
    return buffer_ptr(static_cast<uint8_t *>(std::malloc(HASH_READ_SIZE)), std::free);
}

} // namespace

unsigned hash_workers()
{
    if (const char *v = std::getenv("ORVA_IC_WORKERS"); v && *v) {
        char *end = nullptr;
        errno = 0;
        const long n = std::strtol(v, &end, 10);
        if (errno == 0 && *end == '\0' && n >= 1 && n <= long(MAX_WORKERS))
            return unsigned(n);
        IC_LOG(ic_log_fs_ocl, IC_LOG_WARN, "ORVA_IC_WORKERS='%s' is not a number from 1 to %u\n", v, MAX_WORKERS);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::clamp(unsigned(CPU_COUNT(&set)), 1u, MAX_WORKERS);
    return std::clamp(std::thread::hardware_concurrency(), 1u, MAX_WORKERS);
}

void read_ahead(int fd, uint64_t from, uint64_t size)
{
    if (from < size)
        posix_fadvise(fd, off_t(from), off_t(std::min(size - from, uint64_t(HASH_READ_AHEAD))), POSIX_FADV_WILLNEED);
}

int read_digest(int fd, uint64_t size, uint8_t *buffer, const char *path, uint8_t digest[FS_OCL_HASH_SIZE],
                const std::function<bool()> &go_on)
{
    gost_r3411_94_ctx ctx;
    gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
    uint64_t total = 0;
    // The first HASH_READ_AHEAD bytes were asked for when the file was
    // handed over; the next are asked for as the reads reach them.
    for (uint64_t advised = HASH_READ_AHEAD;;) {
        if (total + HASH_READ_AHEAD > advised && advised < size) {
            read_ahead(fd, advised, size);
            advised += HASH_READ_AHEAD;
        }
        const ssize_t n = read(fd, buffer, HASH_READ_SIZE);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "read '%s': %s\n", path, std::strerror(errno));
            return UNREADABLE;
        }
        gost_r3411_94_update(&ctx, buffer, size_t(n));
        total += uint64_t(n);
        // A file that grew meanwhile fills the read or goes past its size.
        if (size_t(n) < HASH_READ_SIZE && total == size)
            break;
        if (go_on && !go_on())
            return UNREADABLE;
    }
    gost_r3411_94_final(&ctx, digest);
    return FS_OCL_OK;
}

hash_pool::~hash_pool()
{
    cancel_ = true;
    drop_queued();
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
    }
    work_cv_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

int hash_pool::start(unsigned workers, progress p)
{
    progress_ = p;
    own_buffer_ = new_buffer();
    if (!own_buffer_)
        return FS_OCL_ERR_NOMEM;
    threads_.reserve(workers);
    buffers_.reserve(workers);
    for (unsigned i = 1; i < workers; ++i) {
        buffers_.push_back(new_buffer());
        if (!buffers_.back())
            break;
        try {
            threads_.emplace_back(&hash_pool::worker, this, buffers_.back().get());
        } catch (const std::system_error &) {
            break;
        }
    }
    workers_ = unsigned(threads_.size()) + 1;
    window_ = window_for(workers_);
    return FS_OCL_OK;
}

int hash_pool::hash(ic_util::unique_fd fd, uint64_t size, const char *path, then_fn then)
{
    if (failed_ != FS_OCL_OK)
        return failed_;
    slot s;
    s.work = std::make_unique<job>();
    s.work->fd = std::move(fd);
    s.work->size = size;
    s.work->path = path;
    s.then = std::move(then);
    return push(std::move(s));
}

int hash_pool::done(const content &result, then_fn then)
{
    slot s;
    s.result = result;
    s.then = std::move(then);
    return push(std::move(s));
}

int hash_pool::then(step_fn step)
{
    slot s;
    s.step = std::move(step);
    return push(std::move(s));
}

int hash_pool::finish()
{
    while (!slots_.empty() && failed_ == FS_OCL_OK)
        run_first();
    return failed_;
}

int hash_pool::push(slot s)
{
    if (failed_ != FS_OCL_OK)
        return failed_;
    if (slots_.empty() && !s.work) {
        run(s);
        return failed_;
    }
    if (s.work) {
        // Its first bytes are read in while the files before it are hashed.
        read_ahead(s.work->fd.get(), 0, s.work->size);
        {
            std::lock_guard<std::mutex> lock(mu_);
            queued_.push_back(s.work.get());
        }
        work_cv_.notify_one();
    }
    slots_.push_back(std::move(s));
    // Steps whose turn has come run now; a full window waits for the first.
    while (!slots_.empty() && failed_ == FS_OCL_OK) {
        bool ready = !slots_.front().work;
        if (!ready) {
            std::lock_guard<std::mutex> lock(mu_);
            ready = slots_.front().work->state == DONE;
        }
        if (!ready && slots_.size() <= window_)
            break;
        run_first();
    }
    tick();
    return failed_;
}

void hash_pool::run_first()
{
    if (job *first = slots_.front().work.get()) {
        std::unique_lock<std::mutex> lock(mu_);
        while (first->state != DONE) {
            // Rather than wait, hash the oldest file nobody has taken.
            if (!queued_.empty()) {
                job *j = queued_.front();
                queued_.pop_front();
                j->state = RUNNING;
                lock.unlock();
                hash_here(*j, own_buffer_.get(), true);
                lock.lock();
                continue;
            }
            done_cv_.wait_for(lock, TICK);
            lock.unlock();
            tick();
            lock.lock();
        }
        slots_.front().result = first->result;
    }
    slot s = std::move(slots_.front());
    slots_.pop_front();
    run(s);
}

int hash_pool::run(slot &s)
{
    if (failed_ != FS_OCL_OK)
        return failed_;
    const int rc = s.then ? s.then(s.result) : s.step();
    if (rc != FS_OCL_OK) {
        failed_ = rc;
        cancel_ = true;
        drop_queued();
        slots_.clear();
    }
    return failed_;
}

void hash_pool::tick()
{
    if (!progress_.fn)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_tick_ < TICK)
        return;
    last_tick_ = now;
    progress_.fn(progress_.arg);
}

void hash_pool::hash_here(job &j, uint8_t *buffer, bool walker)
{
    content c;
    const std::function<bool()> go_on = [this, walker] {
        if (walker)
            tick();
        return !cancel_.load(std::memory_order_relaxed);
    };
    c.status = read_digest(j.fd.get(), j.size, buffer, j.path.c_str(), c.digest, go_on);
    j.fd.reset();
    {
        std::lock_guard<std::mutex> lock(mu_);
        j.result = c;
        j.state = DONE;
    }
    done_cv_.notify_all();
}

void hash_pool::worker(uint8_t *buffer)
{
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        work_cv_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_)
            return;
        job *j = queued_.front();
        queued_.pop_front();
        j->state = RUNNING;
        lock.unlock();
        hash_here(*j, buffer, false);
        lock.lock();
    }
}

void hash_pool::drop_queued()
{
    std::unique_lock<std::mutex> lock(mu_);
    queued_.clear();
    done_cv_.wait(lock, [this] {
        return std::none_of(slots_.begin(), slots_.end(),
                            [](const slot &s) { return s.work && s.work->state == RUNNING; });
    });
}

} // namespace ocl
