#include "CompareBytes.h"

#include "FileBytes.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace zarnik {

namespace {

// How often the progress is told.
const auto kProgressPeriod = std::chrono::milliseconds(100);

std::unique_ptr<CFileBytes> UnpackedBytes(const CCompareSide &side, const SideFile &file)
{
    if (file.node)
        return CFileBytes::Unpacked(*side.Archive(), *file.node);
    return CFileBytes::OnDisk(file.diskPath, file.size.value_or(0));
}

std::string FailureText(const CFileBytes &bytes, ReadOutcome outcome)
{
    if (!bytes.Reason().empty())
        return "cannot read it: " + bytes.Reason();
    return ReadOutcomeText(outcome);
}

// One of two files pulled a window at a time.
struct Pulled
{
    std::unique_ptr<CFileBytes> bytes;
    const unsigned char *data = nullptr;
    size_t size = 0;
    bool ended = false;

    // A window when the last is used up; false on a failure.
    bool Refill(ReadOutcome *outcome, std::atomic<uint64_t> &done)
    {
        if (size || ended)
            return true;
        *outcome = bytes->Next(&data, &size);
        done += size;
        ended = size == 0;
        return *outcome == ReadOutcome::Sound;
    }
};

// Compares two streams to the first difference.
Verdict SameStreams(std::unique_ptr<CFileBytes> x, std::unique_ptr<CFileBytes> y, const std::atomic<bool> *stop,
                    std::atomic<uint64_t> &done, CompareProblem *problem)
{
    Pulled sides[2];
    sides[0].bytes = std::move(x);
    sides[1].bytes = std::move(y);
    for (Pulled &side : sides)
        side.bytes->SetStop(stop);
    for (;;) {
        for (int i = 0; i < 2; ++i) {
            ReadOutcome outcome = ReadOutcome::Sound;
            if (!sides[i].Refill(&outcome, done)) {
                problem->side = i;
                problem->text = FailureText(*sides[i].bytes, outcome);
                return Verdict::Failed;
            }
        }
        if (sides[0].ended || sides[1].ended)
            return sides[0].ended && sides[1].ended ? Verdict::Same : Verdict::Different;
        const size_t n = std::min(sides[0].size, sides[1].size);
        if (std::memcmp(sides[0].data, sides[1].data, n) != 0)
            return Verdict::Different;
        for (Pulled &side : sides)
            side.data += n, side.size -= n;
    }
}

} // namespace

bool DigestOf(const CCompareSide &side, const SideFile &file, const std::atomic<bool> *stop,
              std::atomic<uint64_t> &done, Sha256Digest *digest, std::string *problem)
{
    if (file.digest) {
        *digest = *file.digest;
        return true;
    }
    std::unique_ptr<CFileBytes> bytes = UnpackedBytes(side, file);
    bytes->SetStop(stop);
    CSha256 sha;
    for (;;) {
        const unsigned char *data = nullptr;
        size_t size = 0;
        const ReadOutcome outcome = bytes->Next(&data, &size);
        if (outcome != ReadOutcome::Sound) {
            *problem = FailureText(*bytes, outcome);
            return false;
        }
        if (size == 0)
            break;
        sha.Update(data, size);
        done += size;
    }
    *digest = sha.Finish();
    return true;
}

Verdict SameBytes(const CCompareSide &a, const SideFile &fa, const CCompareSide &b, const SideFile &fb,
                  const std::atomic<bool> *stop, std::atomic<uint64_t> &done, CompareProblem *problem)
{
    if (fa.digest || fb.digest) {
        Sha256Digest digests[2];
        const SideFile *files[2] = {&fa, &fb};
        const CCompareSide *sides[2] = {&a, &b};
        for (int i = 0; i < 2; ++i) {
            if (!DigestOf(*sides[i], *files[i], stop, done, &digests[i], &problem->text)) {
                problem->side = i;
                return Verdict::Failed;
            }
        }
        return digests[0] == digests[1] ? Verdict::Same : Verdict::Different;
    }
    // The same stored bytes unpack to the same bytes; bytes stored as they
    // are differ exactly where their stored bytes do.
    if (fa.node && fb.node && fa.node->m_PackedSize == fb.node->m_PackedSize &&
        fa.node->m_UnpackedSize == fb.node->m_UnpackedSize) {
        const Verdict stored = SameStreams(CFileBytes::Stored(*a.Archive(), *fa.node),
                                           CFileBytes::Stored(*b.Archive(), *fb.node), stop, done, problem);
        if (stored != Verdict::Different || !fa.node->IsPacked())
            return stored;
    }
    return SameStreams(UnpackedBytes(a, fa), UnpackedBytes(b, fb), stop, done, problem);
}

void RunJobs(size_t count, const CompareSettings &settings, uint64_t total, const std::atomic<uint64_t> &done,
             const std::function<void(size_t)> &job)
{
    unsigned workers = settings.workers;
    if (workers == 0)
        workers = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    workers = unsigned(std::min<size_t>(workers, count));
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
    const auto work = [&] {
        for (size_t i; (i = next++) < count;)
            job(i);
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < workers; ++i) {
        try {
            std::lock_guard<std::mutex> lock(mutex);
            threads.emplace_back(work);
            ++running;
        } catch (const std::system_error &) {
            break; // no more threads: those started, or this one, do the rest
        }
    }
    if (threads.empty()) {
        ++running;
        work();
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, kProgressPeriod, [&] { return running == 0; }))
        if (settings.progress)
            settings.progress(done.load(), total);
    lock.unlock();
    for (std::thread &thread : threads)
        thread.join();
    if (settings.progress)
        settings.progress(done.load(), total);
}

} // namespace zarnik
