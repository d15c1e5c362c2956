// DecodeBlockStream: the index's ranges handed out to workers one at a
// time and delivered in order. A worker decodes its range, waits until the
// ranges before it are delivered, delivers it, and takes the next; so each
// worker holds one range, and the sink sees one caller at a time.
#include "BlockRange.h"
#include "BlockStream.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace zarnik {

namespace {

class CRangeDelivery
{
public:
    CRangeDelivery(const PackedStream &stream, const CBlockIndex &index,
                   const std::atomic<bool> *stop, const StreamSink &sink)
        : m_Stream(stream), m_Index(index), m_Stop(stop), m_Sink(sink)
    {
    }

    void Work()
    {
        BlockRangeBuffers buffers;
        for (;;) {
            size_t range;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                if (m_Ended || m_NextRange == m_Index.Entries().size())
                    return;
                range = m_NextRange++;
            }
            const CBlockIndex::Entry from = m_Index.Entries()[range];
            uint64_t sound = 0;
            StreamOutcome outcome =
                DecodeBlockRange(m_Stream, from, m_Index.RangeEnd(range), buffers, m_Stop, &sound);

            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Turn.wait(lock, [&] { return m_Ended || m_NextDelivery == range; });
            if (m_Ended)
                return;
            // Only the range whose turn it is gets here; the others wait
            // for the turn to move, so the sink is called without the lock.
            lock.unlock();
            const bool taken = sound == 0 || m_Sink(from.unpacked, buffers.decoded.Data(), size_t(sound));
            lock.lock();
            if (taken)
                m_Result.delivered += sound;
            else
                outcome = StreamOutcome::SinkFailed;
            if (outcome != StreamOutcome::Sound) {
                m_Ended = true;
                m_Result.outcome = outcome;
            }
            ++m_NextDelivery;
            m_Turn.notify_all();
        }
    }

    StreamDecodeResult Result() const
    {
        StreamDecodeResult result = m_Result;
        if (!m_Ended)
            result.outcome = m_Index.Outcome(); // what lies past the indexed blocks
        return result;
    }

private:
    const PackedStream &m_Stream;
    const CBlockIndex &m_Index;
    const std::atomic<bool> *m_Stop;
    const StreamSink &m_Sink;

    std::mutex m_Mutex;
    std::condition_variable m_Turn;
    size_t m_NextRange = 0;
    size_t m_NextDelivery = 0;
    bool m_Ended = false;
    StreamDecodeResult m_Result;
};

} // namespace

StreamDecodeResult DecodeBlockStream(const PackedStream &stream, const CBlockIndex &index,
                                     unsigned workers, const std::atomic<bool> *stop,
                                     const StreamSink &sink)
{
    CRangeDelivery delivery(stream, index, stop, sink);
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers && i < index.Entries().size(); ++i) {
        try {
            threads.emplace_back([&delivery] { delivery.Work(); });
        } catch (const std::system_error &) {
            break; // fewer workers; the calling thread is always one
        }
    }
    delivery.Work();
    for (std::thread &t : threads)
        t.join();
    return delivery.Result();
}

} // namespace zarnik
