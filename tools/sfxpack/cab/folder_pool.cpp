#include "cab/folder_pool.h"

#include <condition_variable>
#include <mutex>
#include <sched.h>
#include <thread>

#include "cab/lzx_folder.h"

namespace {
struct FolderJob {
    size_t first = 0, end = 0;
    TempFile temp; // created up front: the list of pending files is not the threads' to touch
    bool done = false;
    bool ok = false;
    Problems problems;
};
} // namespace

struct FolderPool {
    const std::vector<SourceFile>* files = nullptr;
    TimePolicy policy;
    LzxOptions options;
    std::vector<FolderJob> jobs;
    size_t next = 0;      // the next folder a thread starts
    size_t taken = 0;     // folders handed out
    size_t ahead = 0;     // how far past the taken one threads may go
    bool stopping = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread> threads;
};

unsigned UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return 1;
    const int n = CPU_COUNT(&set);
    return n > 0 ? static_cast<unsigned>(n) : 1;
}

// A thread's loop: the next folder within reach, compressed, until none is left or the pool
// stops.
static void CompressFolders(FolderPool* pool) {
    std::unique_lock<std::mutex> lock(pool->mutex);
    for (;;) {
        pool->changed.wait(lock, [pool] {
            return pool->stopping || pool->next >= pool->jobs.size() ||
                   pool->next < pool->taken + pool->ahead;
        });
        if (pool->stopping || pool->next >= pool->jobs.size())
            return;
        FolderJob& job = pool->jobs[pool->next++];
        lock.unlock();
        const bool ok = WriteLzxFolder(*pool->files, job.first, job.end, pool->policy,
                                       pool->options, job.temp.path, nullptr, &job.problems);
        lock.lock();
        job.ok = ok;
        job.done = true;
        pool->changed.notify_all();
    }
}

void FolderPoolStopper::operator()(FolderPool* pool) const {
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->stopping = true;
    }
    pool->changed.notify_all();
    for (std::thread& t : pool->threads)
        t.join();
    for (FolderJob& job : pool->jobs)
        DiscardTemp(&job.temp);
    delete pool;
}

FolderPoolPtr StartFolderPool(const std::vector<SourceFile>& files,
                              const std::vector<std::pair<size_t, size_t>>& folders,
                              const TimePolicy& policy, const LzxOptions& options,
                              const std::string& path, unsigned threads, Problems* problems) {
    FolderPoolPtr pool(new FolderPool);
    pool->files = &files;
    pool->policy = policy;
    pool->options = options;
    pool->ahead = 2 * threads; // bounds the finished folders waiting on disk
    pool->jobs.resize(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        FolderJob& job = pool->jobs[i];
        job.first = folders[i].first;
        job.end = folders[i].second;
        if (!CreateTempBeside(path, ".part", &job.temp, problems) || !CloseTemp(&job.temp))
            return nullptr;
    }
    for (unsigned i = 0; i < threads; ++i)
        pool->threads.emplace_back(CompressFolders, pool.get());
    return pool;
}

bool TakeFolder(FolderPool* pool, size_t index, TempFile* temp, Problems* problems) {
    std::unique_lock<std::mutex> lock(pool->mutex);
    FolderJob& job = pool->jobs[index];
    pool->changed.wait(lock, [&job] { return job.done; });
    pool->taken = index + 1;
    pool->changed.notify_all();
    AppendProblems(problems, job.problems);
    *temp = job.temp;
    job.temp = TempFile(); // now the caller's to discard
    return job.ok;
}
